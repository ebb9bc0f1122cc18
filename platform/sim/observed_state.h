// What the simulated desktop reports of the host's effects on it: the main
// window, the application, the clipboard, revealed files and opened addresses.
#pragma once

#include "channels/value.h"
#include "platform/seam/geometry.h"
#include "platform/sim/sim_window.h"

namespace dravel::sim {

Value rectValue(const Rect& rect);  // [x, y, width, height]
Value colorValue(const Color& color);
// The main window's settings and visibility, as the "mainWindow" state reports them.
ValueMap windowState(const SimWindow& window);

}  // namespace dravel::sim
