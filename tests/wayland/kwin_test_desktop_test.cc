// The private KWin desktop every KWin test runs on: what the tests rely on.
#include <gtest/gtest.h>

#include "tests/support/wayland_oracles.h"

namespace dravel::testing {
namespace {

TEST(KWinTestDesktop, HasTwoVirtualOutputs) {
  ASSERT_EQ(waylandTestDesktop(), "kwin");
  EXPECT_EQ(kwinOutputNames(), std::vector<std::string>({"Virtual-0", "Virtual-1"}));
}

}  // namespace
}  // namespace dravel::testing
