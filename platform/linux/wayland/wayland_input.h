// The pointer on a Wayland session.
//
// Wayland tells a client where the pointer is only while it is over one of
// the client's own surfaces. The position the host gives is, in this order:
// 1. the real position, while the pointer is over a surface of the host
//    whose place on the screen is known (the overlay covers its monitor);
// 2. the centre of the output the compositor calls focused, where it says
//    so (sway's IPC);
// 3. the centre of the primary monitor.
// Buttons are known only over the host's surfaces; elsewhere none count as
// held. The pointer cannot be hidden outside the host's own surfaces.
#pragma once

#include <cstdint>
#include <functional>
#include <optional>

#include "platform/linux/session/linux_input.h"
#include "platform/seam/geometry.h"

namespace dravel::linux_platform {

class WaylandScreens;

class WaylandInput : public LinuxInput {
 public:
  struct PointerOverHost {
    // Global bottom-left points.
    Point location;
    uint64_t buttons = 0;
  };
  struct Sources {
    // The pointer over one of the host's surfaces, where that surface's
    // place is known; absent otherwise.
    std::function<std::optional<PointerOverHost>()> pointerOverHost;
    // The output the compositor calls focused, as a rectangle of its logical
    // space (y downward); absent where the compositor does not say.
    std::function<std::optional<Rect>()> focusedOutput;
  };

  WaylandInput(const WaylandScreens& screens, Sources sources);

  Point mouseLocation() override;
  uint64_t pressedMouseButtons() override;
  // Logged once: Wayland lets no client hide the pointer over other surfaces.
  void setCursorHiddenUntilMouseMoves(bool hidden) override;

 private:
  const WaylandScreens& screens_;
  Sources sources_;
  bool loggedHiding_ = false;
};

}  // namespace dravel::linux_platform
