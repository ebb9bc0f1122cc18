// The private KWin desktop every KWin test runs on, and the host's screens on
// it: the compositor's own monitors, in points, with their scales.
#include <gtest/gtest.h>

#include "tests/support/wayland_oracles.h"
#include "tests/support/wayland_screens_check.h"

namespace dravel::testing {
namespace {

TEST(KWinScreens, TwoVirtualOutputsAreTheHostsScreensInPoints) {
  ASSERT_EQ(waylandTestDesktop(), "kwin");
  std::vector<std::string> names;
  for (const CompositorMonitor& m : compositorMonitors()) names.push_back(m.name);
  EXPECT_EQ(names, std::vector<std::string>({"Virtual-0", "Virtual-1"}));
  EXPECT_EQ(screensAgainstCompositor(), "");
}

}  // namespace
}  // namespace dravel::testing
