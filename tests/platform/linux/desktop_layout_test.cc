// The arithmetic between root-window pixels and the host's global points.
#include "platform/linux/desktop_layout.h"

#include <gtest/gtest.h>

namespace dravel::linux_platform {
namespace {

MonitorPixels monitor(const char* name, int64_t x, int64_t y, int64_t w, int64_t h, uint32_t id,
                      bool primary = false) {
  return {name, x, y, w, h, primary, id};
}

// Primary 2880 x 1800 at root +1920+0, another 1920 x 1080 at +0+0: the
// primary is not at the root's origin, and the other monitor is shorter.
DesktopLayout primaryRightOfOther(int scale) {
  return DesktopLayout(
      {monitor("OTHER", 0, 0, 1920, 1080, 79), monitor("MAIN", 1920, 0, 2880, 1800, 78, true)},
      scale);
}

// At scale 1 the frames and points are checked against xrandr and xdotool
// by tests/desktop (LinuxScreens, HostX11).
TEST(DesktopLayout, ScaleTwoHalvesEveryLengthAndOffset) {
  const DesktopLayout layout = primaryRightOfOther(2);
  EXPECT_EQ(layout.frame(layout.monitors()[0]), (Rect{0, 0, 1440, 900}));
  EXPECT_EQ(layout.frame(layout.monitors()[1]), (Rect{-960, 360, 960, 540}));
  EXPECT_EQ(layout.topLeftBoundsFromRoot(100, 100, 500, 300), (Rect{-910, 50, 250, 150}));
  EXPECT_EQ(layout.pointFromRoot(2020, 1800), (Point{50, 0}));
  // And back to pixels.
  EXPECT_EQ(layout.rootFromPoint({50, 0}), (Point{2020, 1800}));
  EXPECT_EQ(layout.rootRectFromFrame(layout.frame(layout.monitors()[1])),
            (DesktopLayout::PixelRect{0, 0, 1920, 1080}));
}

TEST(DesktopLayout, PrimaryIsTheMarkedOneElseTheOneAtTheRootOrigin) {
  // None marked: the one holding root (0, 0), whatever its place in the list.
  const DesktopLayout unmarked(
      {monitor("B", 1440, 0, 1440, 1800, 2), monitor("A", 0, 0, 1440, 1800, 1)}, 1);
  EXPECT_EQ(unmarked.primary()->name, "A");
  EXPECT_EQ(unmarked.frame(unmarked.monitors()[1]), (Rect{1440, 0, 1440, 1800}));
  // None at the origin either: the first.
  const DesktopLayout apart({monitor("C", 10, 10, 100, 100, 3), monitor("D", 200, 0, 100, 100, 4)},
                            1);
  EXPECT_EQ(apart.primary()->name, "C");
  // A monitor below the primary lies at negative y.
  const DesktopLayout stacked(
      {monitor("TOP", 0, 0, 1000, 500, 5, true), monitor("BOTTOM", 0, 500, 1000, 800, 6)}, 1);
  EXPECT_EQ(stacked.frame(stacked.monitors()[1]), (Rect{0, -800, 1000, 800}));
  EXPECT_EQ(stacked.find(6)->name, "BOTTOM");
  EXPECT_EQ(stacked.find(7), nullptr);
}

TEST(DesktopLayout, ScalesBelowOneCountAsOne) {
  EXPECT_EQ(primaryRightOfOther(0).scale(), 1);
  EXPECT_EQ(primaryRightOfOther(-3).scale(), 1);
}

}  // namespace
}  // namespace dravel::linux_platform
