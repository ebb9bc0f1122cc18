// The screencopy route and the portal routes on a private sway desktop,
// checked against sway's own answers (swaymsg) and grim's pixels.
#include <gtest/gtest.h>

#include <filesystem>
#include <string>

#include "platform/linux/portal_capture_routes.h"
#include "platform/linux/wlr_screencopy_route.h"
#include "tests/support/host_process.h"
#include "tests/support/wayland_oracles.h"
#include "tests/support/x_desktop.h"
#include "tests/support/xwd_image.h"

namespace dravel::testing {
namespace {

using linux_platform::CaptureRoute;
using linux_platform::CaptureRoutePtr;
using linux_platform::RouteLayout;
using linux_platform::RouteMonitor;
using linux_platform::RouteResult;

RouteMonitor monitorOf(const SwayOutput& output, bool withName) {
  RouteMonitor monitor;
  monitor.x = output.x;
  monitor.y = output.y;
  monitor.width = output.width;
  monitor.height = output.height;
  monitor.scale = static_cast<int>(output.scale);
  if (withName) monitor.name = output.name;
  return monitor;
}

class SwayScreencopyTest : public ::testing::Test {
 protected:
  void SetUp() override { ASSERT_EQ(waylandTestDesktop(), "sway"); }

  static RouteResult capture(CaptureRoute& route, const RouteMonitor& monitor) {
    return route.capture(monitor, {monitor}, false, [] { return false; });
  }
  // The output's capture, by connector name and by logical rectangle as the
  // toolkit knows it, is grim's picture of it.
  static void expectCapturedAsGrimDoes(CaptureRoute& route, const SwayOutput& output) {
    for (bool withName : {true, false}) {
      RouteResult result = capture(route, monitorOf(output, withName));
      ASSERT_NE(result.image, nullptr) << output.name << ": " << result.error;
      EXPECT_EQ(rgbOf(*result.image).differingPixels(grimOutput(output.name)), 0)
          << output.name << " by name " << withName;
    }
  }
};

TEST_F(SwayScreencopyTest, CapturesEachOutputAtItsNativePixelsAsGrimDoes) {
  std::string why;
  CaptureRoutePtr route = linux_platform::makeScreencopyRoute(&why);
  ASSERT_NE(route, nullptr) << why;
  EXPECT_TRUE(route->granted());
  const std::vector<SwayOutput> outputs = swayOutputs();
  ASSERT_GE(outputs.size(), 2u);
  bool sawScale2 = false;
  for (const SwayOutput& output : outputs) {
    sawScale2 |= output.scale == 2;
    expectCapturedAsGrimDoes(*route, output);
  }
  EXPECT_TRUE(sawScale2);

  // An output added between captures is followed.
  runCommand({"swaymsg", "create_output"});
  SwayOutput added;
  ASSERT_TRUE(waitUntil(
      [&] {
        for (const SwayOutput& now : swayOutputs()) {
          bool known = false;
          for (const SwayOutput& old : outputs) known |= old.name == now.name;
          if (!known) added = now;
        }
        return !added.name.empty();
      },
      5))
      << "swaymsg create_output added no output";
  expectCapturedAsGrimDoes(*route, added);

  // A monitor gone since the layout was read fails that capture only. sway
  // 1.7 cannot withdraw a headless output (no "unplug"; disabling one fails
  // to commit), so it is one the compositor does not list: by a name it
  // never had, and by a rectangle no output covers.
  const SwayOutput& stays = outputs[0];
  RouteMonitor gone = monitorOf(stays, true);
  gone.name = "HEADLESS-99";
  gone.x = 100000;
  for (bool withName : {true, false}) {
    if (!withName) gone.name.clear();
    RouteResult result = capture(*route, gone);
    EXPECT_EQ(result.image, nullptr);
    EXPECT_FALSE(result.unusable);
    EXPECT_FALSE(result.error.empty());
  }
  // The route still serves the outputs that stay.
  expectCapturedAsGrimDoes(*route, stays);
}

// xdg-desktop-portal-wlr's Screenshot draws the whole layout at the largest
// scale; each monitor cut out of it is grim's picture of that output (the
// outputs are solid colours, so the scale-1 one averages down exactly), and
// the portal's file is gone afterwards. Its ScreenCast cannot start without
// a GPU: the capture fails with a message, and the route stays.
TEST_F(SwayScreencopyTest, ThePortalRoutesServeOrFailPlainly) {
  std::string why;
  CaptureRoutePtr screenshot = linux_platform::makeScreenshotPortalRoute(&why);
  ASSERT_NE(screenshot, nullptr) << why;
  RouteLayout layout;
  for (const SwayOutput& output : swayOutputs()) layout.push_back(monitorOf(output, true));
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
