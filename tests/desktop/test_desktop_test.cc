// The private desktop every test here runs on: what the tests rely on.
#include <gtest/gtest.h>

#include "tests/support/x_desktop.h"

namespace dravel::testing {
namespace {

TEST(TestDesktop, HasTwoMonitorsAWindowManagerAndTheKnownClients) {
  ASSERT_TRUE(requireTestDesktop());
  const std::string monitors = commandOutput({"xrandr", "--listmonitors"});
  EXPECT_NE(monitors.find("Monitors: 2"), std::string::npos) << monitors;
  EXPECT_NE(monitors.find("*LEFT 1440/"), std::string::npos) << monitors;
  EXPECT_NE(commandOutput({"xprop", "-root", "_NET_SUPPORTING_WM_CHECK"}).find("window id"),
            std::string::npos);
  EXPECT_EQ(commandOutput({"xdotool", "getactivewindow", "getwindowname"}), "term two\n");
  EXPECT_NE(commandOutput({"xdotool", "search", "--name", "^term one$"}), "");
}

}  // namespace
}  // namespace dravel::testing
