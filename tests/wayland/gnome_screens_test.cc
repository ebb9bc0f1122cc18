// The private GNOME desktop every GNOME test runs on, and the host's screens
// on it: the compositor's own monitors, in points, with their scales.
#include <gtest/gtest.h>

#include "tests/support/wayland_oracles.h"
#include "tests/support/wayland_screens_check.h"
#include "tests/support/x_desktop.h"

namespace dravel::testing {
namespace {

TEST(GnomeScreens, TwoVirtualMonitorsOfKnownModesOutOfTheOverviewAreTheHostsScreensInPoints) {
  ASSERT_EQ(waylandTestDesktop(), "gnome");
  EXPECT_EQ(gnomeMonitors(), std::vector<std::string>({"Meta-0 1920x1080", "Meta-1 1280x720"}));
  // Out of the overview, where windows would be thumbnails.
  EXPECT_EQ(gdbusCall("org.gnome.Shell", "/org/gnome/Shell", "org.freedesktop.DBus.Properties.Get",
                      {"org.gnome.Shell", "OverviewActive"}),
            "(<false>,)\n");
  EXPECT_EQ(screensAgainstCompositor(), "");
}

}  // namespace
}  // namespace dravel::testing
