// The host on the private sway desktop, from outside: the screen under the
// cursor, and the host's end when the compositor goes.
#include <gtest/gtest.h>

#include <filesystem>

#include "tests/support/host_fixture.h"
#include "tests/support/host_process.h"
#include "tests/support/pattern_windows.h"
#include "tests/wayland/grim_differences.h"

namespace dravel::testing {
namespace {

class SwayHost : public HostProcessTest {};

// Wayland tells no pointer position: the screen under the cursor is the
// output sway calls focused, and its capture is grim's.
TEST_F(SwayHost, TheScreenUnderTheCursorIsTheFocusedOutputAndCapturesAsGrimDoes) {
  ASSERT_EQ(waylandTestDesktop(), "sway");
  platform_ = "wayland";
  start();
  ASSERT_FALSE(HasFatalFailure());
  for (const SwayOutput& output : swayOutputs()) {
    ASSERT_EQ(
        waitFor(spawn({"swaymsg", "focus", "output", output.name}, "/dev/null", "/dev/null"), 20),
        0);
    MethodResponse reply = call("dravel/capture", "screenUnderCursor");
    const Value* screen = std::get_if<Value>(&reply);
    ASSERT_TRUE(screen) << hostLog();
    EXPECT_EQ(screen->doubleAt("screenW"), static_cast<double>(output.width)) << output.name;
    EXPECT_EQ(screen->doubleAt("screenH"), static_cast<double>(output.height)) << output.name;
    EXPECT_EQ(screen->doubleAt("scale"), output.scale) << output.name;
    // Its screenshot is grim's picture of that output.
    const std::optional<int64_t> id = screen->intAt("displayId");
    ASSERT_TRUE(id);
    const std::string png = dir_ + "/shot.png";
    ASSERT_EQ(ctl({"screenshot", "-o", png, "--display", std::to_string(*id)}), 0)
        << readFile(dir_ + "/ctl.err") << hostLog();
    EXPECT_EQ(grimDifferences(pngFileImage(png), grimOutput(output.name)), "") << output.name;
  }
  // Nothing to grant: no question is ever asked.
  EXPECT_TRUE(isSuccess(call("dravel/capture", "hasPermission"), Value(true)));
  EXPECT_TRUE(isSuccess(call("dravel/capture", "requestPermission"), Value(true)));
}

// As on X11: the host says why, removes its socket and ends with status 1.
TEST_F(SwayHost, EndsCleanlyWhenTheCompositorGoes) {
  ASSERT_EQ(waylandTestDesktop(), "sway");
  platform_ = "wayland";
  start();
  ASSERT_FALSE(HasFatalFailure());
  ASSERT_TRUE(std::filesystem::exists(socket_));
  // sway may go before it answers: swaymsg's status says nothing.
  waitFor(spawn({"swaymsg", "exit"}, "/dev/null", "/dev/null"), 20);
  EXPECT_EQ(waitFor(pid_, 20), 1) << hostLog();
  pid_ = -1;
  EXPECT_FALSE(std::filesystem::exists(socket_));
  EXPECT_TRUE(logHas("lost the connection to the Wayland compositor")) << hostLog();
}

}  // namespace
}  // namespace dravel::testing
