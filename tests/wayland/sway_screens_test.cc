// The private sway desktop every sway test runs on, and the host's screens on
// it: the compositor's own monitors, in points, with their scales.
#include <gtest/gtest.h>

#include <vector>

#include "tests/support/wayland_oracles.h"
#include "tests/support/wayland_screens_check.h"

namespace dravel::testing {
namespace {

TEST(SwayScreens, TwoOutputsOneAtScaleTwoAreTheHostsScreensInPoints) {
  ASSERT_EQ(waylandTestDesktop(), "sway");
  const std::vector<SwayOutput> outputs = swayOutputs();
  ASSERT_EQ(outputs.size(), 2u);
  EXPECT_EQ(outputs[0].scale, 2);
  EXPECT_EQ(outputs[1].scale, 1);
  EXPECT_EQ(screensAgainstCompositor(), "");
}

}  // namespace
}  // namespace dravel::testing
