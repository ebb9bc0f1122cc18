// The pointer and its buttons on the X server, and hiding the pointer until
// the user moves the mouse.
//
// Hiding uses XFixes (the server counts hides per client and undoes them when
// the client goes) and waits for the first raw motion of XInput 2, which
// arrives even while another client holds a pointer grab. Without either
// extension the pointer is never hidden (logged once).
#pragma once

#include <cstdint>
#include <optional>

#include "platform/linux/session/linux_input.h"

namespace dravel::linux_platform {

class X11Screens;
class XConnection;

class X11Input : public LinuxInput {
 public:
  // `connection`: the main-thread connection, attached to the main context
  // (the raw motion that shows the pointer again arrives through it).
  X11Input(XConnection& connection, const X11Screens& screens);
  // Shows the pointer if this object hid it.
  ~X11Input() override;
  X11Input(const X11Input&) = delete;
  X11Input& operator=(const X11Input&) = delete;

  Point mouseLocation() override;
  uint64_t pressedMouseButtons() override;
  void setCursorHiddenUntilMouseMoves(bool hidden) override;

  // Whether this object has the pointer hidden now.
  bool cursorHidden() const { return hidden_; }

 private:
  bool canHide();
  void show();
  void selectRawMotion(bool on);

  XConnection& connection_;
  const X11Screens& screens_;
  uint64_t eventListener_ = 0;
  bool hidden_ = false;
  // Whether XInput 2.2 was negotiated; null until first needed.
  std::optional<bool> xinput2_;
  bool loggedUnsupported_ = false;
};

}  // namespace dravel::linux_platform
