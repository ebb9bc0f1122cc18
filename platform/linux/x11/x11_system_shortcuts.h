// The desktop's shortcuts on X11, whatever the window manager: a
// combination is taken when another client holds a passive grab of it on
// the root window, which is how window managers, desktop shortcut daemons
// and other programs' global hotkeys all take keys on X. The server is
// asked by grabbing the combination for an instant: it refuses (BadAccess)
// a combination another client holds, and a grab it grants is released at
// once, inside the same error trap, before the question returns.
//
// Grabbers take their combination with and without Num Lock and Caps Lock;
// the combination is asked as the user presses it, with the plain
// modifiers. A key value this keymap has no key for cannot be pressed: it
// is free. Main thread, on the desktop's own connection.
#pragma once

#include <functional>

#include "platform/linux/x11/x11_connection.h"
#include "platform/seam/system_shortcuts.h"

namespace dravel::linux_platform {

class X11SystemShortcuts : public SystemShortcuts {
 public:
  // `connection` gives the desktop's main-thread connection, null while
  // there is none (no answer then).
  explicit X11SystemShortcuts(std::function<XConnection*()> connection);
  std::optional<bool> isTaken(int64_t keyCode, int64_t modifiers) override;

 private:
  std::function<XConnection*()> connection_;
};

}  // namespace dravel::linux_platform
