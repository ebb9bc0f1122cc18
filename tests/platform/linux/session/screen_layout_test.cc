// The arithmetic between root-window pixels and the host's global points.
#include "platform/linux/session/screen_layout.h"

#include <gtest/gtest.h>

namespace dravel::linux_platform {
namespace {

MonitorPixels monitor(const char* name, int64_t x, int64_t y, int64_t w, int64_t h, uint32_t id,
                      bool primary = false) {
  return {name, x, y, w, h, primary, id};
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

}  // namespace
}  // namespace dravel::linux_platform
