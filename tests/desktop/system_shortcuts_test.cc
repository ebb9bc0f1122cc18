// The desktop's shortcuts on X11: combinations another client grabs on the
// root window (as a window manager or a hotkey daemon does), with the
// server's answers to another client and xmodmap's keymap as the oracles.
#include <gtest/gtest.h>

#include "tests/support/x_desktop.h"

#include <X11/Xlib.h>
#include <X11/keysym.h>

#include "platform/linux/x11/x11_connection.h"
#include "platform/linux/x11/x11_system_shortcuts.h"

namespace dravel::linux_platform {
namespace {

using namespace ::dravel::testing;

// Whether the server grants `other` the combination.
bool grab(Display* other, KeySym key, unsigned modifiers) {
  XErrorTrap trap(other);
  XGrabKey(other, XKeysymToKeycode(other, key), modifiers, DefaultRootWindow(other), False,
           GrabModeAsync, GrabModeAsync);
  return !trap.sync();
}

TEST(X11SystemShortcuts, CombosAnotherClientGrabsAreTakenAndAProbeLeavesNoGrab) {
  ASSERT_TRUE(requireTestDesktop());
  auto connection = openXConnection();
  ASSERT_TRUE(connection);
  X11SystemShortcuts shortcuts([&] { return connection.get(); });
  Display* other = XOpenDisplay(nullptr);
  ASSERT_TRUE(other);
  // As grabbers do, with Num Lock (Mod2) too.
  ASSERT_TRUE(grab(other, XK_F9, Mod4Mask | ShiftMask));
  ASSERT_TRUE(grab(other, XK_F9, Mod4Mask | ShiftMask | Mod2Mask));
  ASSERT_TRUE(grab(other, XK_y, ControlMask | Mod1Mask));
  const struct {
    KeySym key;
    int64_t modifiers;
    bool taken;
  } rows[] = {
      {XK_F9, kShortcutSuper | kShortcutShift, true},
      {XK_F9, kShortcutSuper, false},
      {XK_F10, kShortcutSuper | kShortcutShift, false},
      {XK_y, kShortcutControl | kShortcutAlt, true},
      {XK_y, kShortcutControl | kShortcutAlt | kShortcutShift, false},
      {XK_F11, kShortcutControl, false},
  };
  for (const auto& row : rows) {
    EXPECT_EQ(shortcuts.isTaken(static_cast<int64_t>(row.key), row.modifiers), row.taken)
        << std::hex << row.key << " " << row.modifiers;
  }
  // Right after the probe of a free combination another client gets it.
  EXPECT_TRUE(grab(other, XK_F11, ControlMask));
  XCloseDisplay(other);
  // No key of this keymap gives Greek alpha: it cannot be pressed.
  EXPECT_EQ(commandOutput({"sh", "-c", "xmodmap -pke | grep -cw Greek_alpha || true"}), "0\n");
  EXPECT_EQ(shortcuts.isTaken(XK_Greek_alpha, kShortcutSuper), false);
}

}  // namespace
}  // namespace dravel::linux_platform
