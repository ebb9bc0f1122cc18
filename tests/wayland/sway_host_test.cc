// The host on the private sway desktop, from outside: the screen under the
// cursor, the active window, and the host's end when the compositor goes.
#include <gtest/gtest.h>

#include <filesystem>
#include <sstream>

#include "tests/support/host_fixture.h"
#include "tests/support/host_process.h"
#include "tests/support/pattern_windows.h"
#include "tests/support/x_desktop.h"
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

// Where sway's IPC answers, the active window is the window it focuses,
// where `swaymsg -t get_tree` puts it; without that IPC there is none.
TEST_F(SwayHost, TheActiveWindowIsTheOneSwayFocusesAndNoneWithoutItsIpc) {
  ASSERT_EQ(waylandTestDesktop(), "sway");
  PatternWindows window(1);
  ASSERT_TRUE(window.ready());
  // Neither output at the origin of sway's space: the host's points differ.
  for (const char* command :
       {"output HEADLESS-1 position 1920 0", "output HEADLESS-2 position 0 100",
        "[app_id=dravel_pattern_window] fullscreen disable, floating enable, resize set 400 300, "
        "move position 100 50, focus"}) {
    ASSERT_EQ(waitFor(spawn({"swaymsg", command}, "/dev/null", "/dev/null"), 20), 0) << command;
  }
  platform_ = "wayland";
  start();
  ASSERT_FALSE(HasFatalFailure());
  // The focused window's frame (its title bar included) from its output's
  // top-left corner, and the output's size.
  const std::string focused =
      "swaymsg -r -t get_tree | jq -c '[.nodes[] | .rect as $o | .. | objects | "
      "select(.focused? == true) | [.rect.x - $o.x, .rect.y - $o.y - .deco_rect.height, "
      ".rect.width, .rect.height + .deco_rect.height, "
      "$o.width, $o.height]][0]'";
  std::string reported, answered;
  EXPECT_TRUE(waitUntil([&] {
    const Value v = std::get<Value>(call("dravel/capture", "activeWindow"));
    std::ostringstream text;
    for (const char* key : {"winX", "winY", "winW", "winH", "screenW", "screenH"}) {
      text << (text.tellp() ? "," : "[") << v.doubleAt(key).value_or(-1);
    }
    answered = text.str() + "]\n";
    return runCommand({"sh", "-c", focused}, &reported) && reported == answered;
  })) << reported
      << answered;
  for (const std::string& swaysock : {std::string("SWAYSOCK"), "SWAYSOCK=" + dir_ + "/host.log"}) {
    stopHost();
    hostEnvironment_ = {swaysock};
    start();
    ASSERT_FALSE(HasFatalFailure());
    EXPECT_TRUE(isSuccess(call("dravel/capture", "activeWindow"), Value())) << swaysock;
  }
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
