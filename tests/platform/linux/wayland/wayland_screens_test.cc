// The Wayland desktop's arithmetic from device pixels to points. The capture
// engine's choice of routes is checked on the compositors themselves by
// tests/wayland (SwayHost, KWinHost).
#include <gtest/gtest.h>

#include "platform/linux/wayland/wayland_screens.h"

namespace dravel::linux_platform {
namespace {

WaylandMonitor monitor(int64_t x, int64_t y, int64_t w, int64_t h, int scale) {
  return {0, x, y, w, h, scale, false, "", ""};
}

TEST(WaylandScreens, DevicePixelLayoutsBecomePointsThatNeverOverlap) {
  struct Case {
    const char* what;
    std::vector<WaylandMonitor> given;
    bool physical;
    std::vector<WaylandMonitor> expected;
  };
  const WaylandMonitor hiDpi = monitor(0, 0, 2880, 1800, 2), halved = monitor(0, 0, 1440, 900, 2);
  const Case cases[] = {
      // Sizes over their own scale, positions over the smallest.
      {"a panel at scale 2 beside one at 1",
       {hiDpi, monitor(2880, 0, 1920, 1080, 1)},
       true,
       {halved, monitor(2880, 0, 1920, 1080, 1)}},
      {"every monitor at scale 2: the whole layout halves",
       {hiDpi, monitor(2880, 0, 2880, 1800, 2)},
       true,
       {halved, monitor(1440, 0, 1440, 900, 2)}},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(logicalMonitors(c.given, c.physical), c.expected) << c.what;
  }
}

}  // namespace
}  // namespace dravel::linux_platform
