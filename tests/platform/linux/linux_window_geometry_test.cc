// The window's arithmetic between its frame, its content and window
// coordinates, and the translation of the toolkit's input state, without a
// display.
#include <gdk/gdk.h>
#include <gtest/gtest.h>

#include "platform/linux/linux_window.h"

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

TEST(LinuxWindowGeometry, WindowCoordinatesStartAtTheFramesBottomLeft) {
  // Content 598 x 375 inside a 600 x 400 frame.
  const int64_t contentHeight = 375;
  const Rect content = contentFrameInWindow(598, contentHeight, kTitled, 1);
  EXPECT_EQ(content, (Rect{1, 5, 598, 375}));
  // The content's top-left pixel is the content frame's top-left corner;
  // its bottom-left one the content frame's origin.
  EXPECT_EQ(windowPointFromContent(0, 0, contentHeight, kTitled, 1),
            (Point{content.minX(), content.maxY()}));
  EXPECT_EQ(windowPointFromContent(0, 375, contentHeight, kTitled, 1), content.origin());
  EXPECT_EQ(windowPointFromContent(49, 295, contentHeight, kTitled, 1), (Point{50, 85}));
  // At scale 2 every length is halved, borders included.
  EXPECT_EQ(windowPointFromContent(49, 295, contentHeight, kTitled, 2), (Point{25, 42.5}));
  EXPECT_EQ(contentFrameInWindow(598, contentHeight, kTitled, 2), (Rect{0.5, 2.5, 299, 187.5}));
  // The overlay has no frame: window and content coincide.
  EXPECT_EQ(windowPointFromContent(10, 0, 1800, {}, 1), (Point{10, 1800}));
}

TEST(LinuxWindowGeometry, ModifierStateBecomesTheHostsFlags) {
  EXPECT_EQ(modifierFlagsFromState(0), 0u);
  EXPECT_EQ(modifierFlagsFromState(GDK_LOCK_MASK), 1u << 16);
  EXPECT_EQ(modifierFlagsFromState(GDK_SHIFT_MASK | GDK_CONTROL_MASK), (1u << 17) | (1u << 18));
  EXPECT_EQ(modifierFlagsFromState(GDK_MOD1_MASK), 1u << 19);
  EXPECT_EQ(modifierFlagsFromState(GDK_SUPER_MASK), 1u << 20);
  EXPECT_EQ(modifierFlagsFromState(GDK_MOD4_MASK), 1u << 20);
  // Buttons are not modifiers.
  EXPECT_EQ(modifierFlagsFromState(GDK_BUTTON1_MASK | GDK_BUTTON3_MASK), 0u);
}

TEST(LinuxWindowGeometry, ButtonsAndMotionBecomeTheSeamsEventTypes) {
  EXPECT_EQ(buttonEventType(1, true), kLeftMouseDown);
  EXPECT_EQ(buttonEventType(1, false), kLeftMouseUp);
  EXPECT_EQ(buttonEventType(3, true), kRightMouseDown);
  EXPECT_EQ(buttonEventType(3, false), kRightMouseUp);
  EXPECT_EQ(buttonEventType(2, true), kOtherMouseDown);
  EXPECT_EQ(buttonEventType(8, false), kOtherMouseUp);
  EXPECT_EQ(motionEventType(0), kMouseMoved);
  EXPECT_EQ(motionEventType(GDK_BUTTON1_MASK | GDK_SHIFT_MASK), kLeftMouseDragged);
  EXPECT_EQ(motionEventType(GDK_BUTTON3_MASK), kRightMouseDragged);
  // Left wins when both are held.
  EXPECT_EQ(motionEventType(GDK_BUTTON1_MASK | GDK_BUTTON3_MASK), kLeftMouseDragged);
  EXPECT_EQ(motionEventType(GDK_BUTTON2_MASK), kMouseMoved);
}

}  // namespace
}  // namespace dravel::linux_platform::window_geometry
