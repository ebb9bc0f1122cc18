// The window's frame arithmetic and the translation of the toolkit's input
// state, without a display.
#include <gdk/gdk.h>
#include <gtest/gtest.h>

#include "platform/linux/session/window_geometry.h"
#include "platform/seam/input.h"

namespace dravel::linux_platform::window_geometry {
namespace {

using PixelRect = DesktopLayout::PixelRect;

// What openbox's default theme puts around a titled window.
constexpr FrameExtents kTitled{1, 1, 20, 5};

// The content inside a frame and back is checked against the window
// manager's frame by tests/desktop (WindowOnDesktop).
TEST(LinuxWindowGeometry, AFrameSmallerThanItsDecorationsStillLeavesAWindowToMap) {
  EXPECT_EQ(contentFromOuter(PixelRect{0, 0, 1, 10}, kTitled), (PixelRect{1, 20, 1, 1}));
}

TEST(LinuxWindowGeometry, ModifierStateBecomesTheHostsFlags) {
  EXPECT_EQ(modifierFlagsFromState(GDK_LOCK_MASK), 1u << 16);
  EXPECT_EQ(modifierFlagsFromState(GDK_SHIFT_MASK | GDK_CONTROL_MASK), (1u << 17) | (1u << 18));
  EXPECT_EQ(modifierFlagsFromState(GDK_MOD1_MASK), 1u << 19);
  EXPECT_EQ(modifierFlagsFromState(GDK_MOD4_MASK), 1u << 20);
  // Buttons are not modifiers.
  EXPECT_EQ(modifierFlagsFromState(GDK_BUTTON1_MASK | GDK_BUTTON3_MASK), 0u);
}

// Left and right clicks are checked through xdotool by tests/desktop.
TEST(LinuxWindowGeometry, OtherButtonsAndMotionBecomeTheSeamsEventTypes) {
  EXPECT_EQ(buttonEventType(8, false), kOtherMouseUp);
  EXPECT_EQ(motionEventType(0), kMouseMoved);
  EXPECT_EQ(motionEventType(GDK_BUTTON3_MASK), kRightMouseDragged);
  // Left wins when both are held.
  EXPECT_EQ(motionEventType(GDK_BUTTON1_MASK | GDK_BUTTON3_MASK), kLeftMouseDragged);
  EXPECT_EQ(motionEventType(GDK_BUTTON2_MASK), kMouseMoved);
}

}  // namespace
}  // namespace dravel::linux_platform::window_geometry
