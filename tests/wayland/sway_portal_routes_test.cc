// The portal routes on a private sway desktop, checked against sway's own
// answers (swaymsg) and grim's pixels. (The screencopy route, which the host
// takes there, is checked through the host by sway_host_test.)
#include <gtest/gtest.h>

#include <filesystem>
#include <string>

#include "platform/linux/wayland/capture/portal_capture_routes.h"
#include "tests/support/host_process.h"
#include "tests/support/wayland_oracles.h"
#include "tests/support/x_desktop.h"
#include "tests/support/xwd_image.h"

namespace dravel::testing {
namespace {

using linux_platform::CaptureRoutePtr;
using linux_platform::RouteLayout;
using linux_platform::RouteMonitor;
using linux_platform::RouteResult;

RouteMonitor monitorOf(const SwayOutput& output) {
  RouteMonitor monitor;
  monitor.x = output.x;
  monitor.y = output.y;
  monitor.width = output.width;
  monitor.height = output.height;
  monitor.scale = static_cast<int>(output.scale);
  monitor.name = output.name;
  return monitor;
}

class SwayPortalRoutes : public ::testing::Test {
 protected:
  void SetUp() override { ASSERT_EQ(waylandTestDesktop(), "sway"); }
};

// xdg-desktop-portal-wlr's Screenshot draws the whole layout at the largest
// scale; each monitor cut out of it is grim's picture of that output (the
// outputs are solid colours, so the scale-1 one averages down exactly), and
// the portal's file is gone afterwards. Its ScreenCast cannot start without
// a GPU: the capture fails with a message, and the route stays.
TEST_F(SwayPortalRoutes, ThePortalRoutesServeOrFailPlainly) {
  std::string why;
  CaptureRoutePtr screenshot = linux_platform::makeScreenshotPortalRoute(&why);
  ASSERT_NE(screenshot, nullptr) << why;
  RouteLayout layout;
  for (const SwayOutput& output : swayOutputs()) layout.push_back(monitorOf(output));
  ASSERT_GE(layout.size(), 2u);
  for (const RouteMonitor& monitor : layout) {
    RouteResult result = screenshot->capture(monitor, layout, false, [] { return false; });
    ASSERT_NE(result.image, nullptr) << monitor.name << ": " << result.error;
    EXPECT_EQ(rgbOf(*result.image).differingPixels(grimOutput(monitor.name)), 0) << monitor.name;
    EXPECT_FALSE(std::filesystem::exists("/tmp/out.png"));
  }
  EXPECT_TRUE(screenshot->granted());

  CaptureRoutePtr cast = linux_platform::makeScreenCastPortalRoute(&why);
  ASSERT_NE(cast, nullptr) << why;
  RouteResult result = cast->capture(layout[1], layout, false, [] { return false; });
  EXPECT_EQ(result.image, nullptr);
  EXPECT_FALSE(result.unusable);
  EXPECT_FALSE(result.error.empty());
  EXPECT_FALSE(cast->promptVisible());
}

}  // namespace
}  // namespace dravel::testing
