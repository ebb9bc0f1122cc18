// The host's screens on the private KWin desktop are the compositor's own
// monitors, in points, with their scales.
#include <gtest/gtest.h>

#include "tests/support/wayland_oracles.h"
#include "tests/support/wayland_screens_check.h"

namespace dravel::testing {
namespace {

TEST(KWinScreens, AreTheCompositorsMonitorsInPoints) {
  ASSERT_EQ(waylandTestDesktop(), "kwin");
  EXPECT_EQ(screensAgainstCompositor(), "");
}

}  // namespace
}  // namespace dravel::testing
