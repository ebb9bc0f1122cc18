// Displays: the display id of a screen and the screen under the pointer.
#pragma once

#include <cstdint>
#include <optional>

#include "platform/seam/screens.h"

namespace dravel {

// The device-description key that holds a screen's display id.
const char* kScreenNumberKey();

// The screen's "NSScreenNumber" read as unsigned 32-bit; absent when it is
// missing or not a number.
std::optional<uint32_t> displayID(const Screen& screen);

// The first screen whose frame holds the pointer, else the main screen, else
// the first screen; none only when there are no screens.
ScreenPtr screenUnderCursor();

}  // namespace dravel
