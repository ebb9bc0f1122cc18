// The private GNOME desktop every GNOME test runs on: what the tests rely on.
#include <gtest/gtest.h>

#include "tests/support/wayland_oracles.h"

namespace dravel::testing {
namespace {

TEST(GnomeTestDesktop, HasTwoVirtualMonitorsOfKnownModes) {
  ASSERT_EQ(waylandTestDesktop(), "gnome");
  EXPECT_EQ(gnomeMonitors(), std::vector<std::string>({"Meta-0 1920x1080", "Meta-1 1280x720"}));
}

}  // namespace
}  // namespace dravel::testing
