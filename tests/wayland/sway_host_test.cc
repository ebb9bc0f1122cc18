// The host on the private sway desktop, from outside: the screen under the
// cursor, the active window, the overlay, and the host's end when the
// compositor goes.
#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <sstream>

#include "tests/support/host_fixture.h"
#include "tests/support/host_process.h"
#include "tests/support/pattern_windows.h"
#include "tests/support/wayland_oracles.h"
#include "tests/support/x_desktop.h"
#include "tests/wayland/wayland_clipboard.h"

namespace dravel::testing {
namespace {

class SwayHost : public HostProcessTest {
 protected:
  void SetUp() override {
    HostProcessTest::SetUp();
    ASSERT_EQ(waylandTestDesktop(), "sway");
    platform_ = "wayland";
  }
  // Focuses the output; the host's display id for it.
  std::optional<int64_t> focusOutput(const std::string& name) {
    if (!runCommand({"swaymsg", "focus", "output", name})) return std::nullopt;
    return std::get<Value>(call("dravel/capture", "screenUnderCursor")).intAt("displayId");
  }
};

// One key from a virtual keyboard, to the window (or surface) with the focus.
void type(const char* key) {
  runCommand({"wtype", "-k", key});
}

// Whether every pixel grim reads of the output is black.
bool black(const std::string& output) {
  const RgbImage image = grimOutput(output);
  return image.width > 0 &&
         std::all_of(image.rgb.begin(), image.rgb.end(), [](uint8_t v) { return v == 0; });
}

// Wayland tells no pointer position: the screen under the cursor is the
// output sway calls focused, and its capture is grim's, on each output and
// on one added while the host runs.
TEST_F(SwayHost, TheScreenUnderTheCursorIsTheFocusedOutputAndCapturesAsGrimDoes) {
  start();
  ASSERT_FALSE(HasFatalFailure());
  auto expectServed = [&](const SwayOutput& output) {
    ASSERT_TRUE(runCommand({"swaymsg", "focus", "output", output.name}));
    MethodResponse reply = call("dravel/capture", "screenUnderCursor");
    const Value* screen = std::get_if<Value>(&reply);
    ASSERT_TRUE(screen) << hostLog();
    EXPECT_EQ(screen->doubleAt("screenW"), static_cast<double>(output.width)) << output.name;
    EXPECT_EQ(screen->doubleAt("screenH"), static_cast<double>(output.height)) << output.name;
    EXPECT_EQ(screen->doubleAt("scale"), output.scale) << output.name;
    const std::optional<int64_t> id = screen->intAt("displayId");
    ASSERT_TRUE(id);
    const std::string png = dir_ + "/shot.png";
    ASSERT_EQ(ctl({"screenshot", "-o", png, "--display", std::to_string(*id)}), 0)
        << readFile(dir_ + "/ctl.err") << hostLog();
    EXPECT_EQ(rgbOf(pngFileImage(png)).differingPixels(grimOutput(output.name)), 0) << output.name;
  };
  const std::vector<SwayOutput> outputs = swayOutputs();
  ASSERT_TRUE(std::any_of(outputs.begin(), outputs.end(),
                          [](const SwayOutput& output) { return output.scale == 2; }));
  for (const SwayOutput& output : outputs) expectServed(output);

  runCommand({"swaymsg", "create_output"});
  SwayOutput added;
  ASSERT_TRUE(waitUntil([&] {
    for (const SwayOutput& now : swayOutputs()) {
      if (std::none_of(outputs.begin(), outputs.end(),
                       [&](const SwayOutput& old) { return old.name == now.name; })) {
        added = now;
      }
    }
    return !added.name.empty();
  })) << "swaymsg create_output added no output";
  expectServed(added);

  // Nothing to grant: no question is ever asked.
  EXPECT_TRUE(isSuccess(call("dravel/capture", "hasPermission"), Value(true)));
  EXPECT_TRUE(isSuccess(call("dravel/capture", "requestPermission"), Value(true)));
}

// The main job on this desktop: the demo's screenshot of the screen under
// the pointer is what grim reads of that output, with a program's window on
// it.
TEST_F(SwayHost, TheDemoWritesTheFocusedOutputWithItsWindowAsGrimReadsIt) {
  const SwayOutput output = swayOutputs().at(0);
  ASSERT_TRUE(runCommand({"swaymsg", "focus", "output", output.name}));
  StoppedAtExit program{spawn({"gtk3-widget-factory"}, "/dev/null", dir_ + "/program.err")};
  ASSERT_TRUE(waitUntil([&] {
    std::string tree;
    return runCommand({"swaymsg", "-t", "get_tree", "-r"}, &tree) &&
           tree.find("\"gtk3-widget-factory\"") != std::string::npos;
  })) << readFile(dir_ + "/program.err");
  const std::string png = dir_ + "/demo.png";
  std::string said;
  ASSERT_EQ(runDemo(png, &said), 0) << said;
  std::string why;
  EXPECT_TRUE(showsAMonitorWithAWindow(rgbOf(pngFileImage(png)), {grimOutput(output.name)}, &why))
      << why;
}

// Where sway's IPC answers, the active window is the window it focuses,
// where `swaymsg -t get_tree` puts it; without that IPC there is none.
TEST_F(SwayHost, TheActiveWindowIsTheOneSwayFocusesAndNoneWithoutItsIpc) {
  PatternWindows window(1);
  ASSERT_TRUE(window.ready());
  // Neither output at the origin of sway's space: the host's points differ.
  for (const char* command :
       {"output HEADLESS-1 position 1920 0", "output HEADLESS-2 position 0 100",
        "[app_id=dravel_pattern_window] fullscreen disable, floating enable, resize set 400 300, "
        "move position 100 50, focus"}) {
    ASSERT_TRUE(runCommand({"swaymsg", command})) << command;
  }
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

// The capture flow on sway. The overlay is a layer surface over the whole
// output, above a fullscreen window, with the keyboard (wtype's keys reach
// no window while it is up, and reach the window again after it); a capture
// meanwhile is the screen as it was before, and its copy is on the
// clipboard; nothing of the host stays after the overlay.
TEST_F(SwayHost, TheOverlayCoversItsOutputAboveAllWithTheKeyboardAndLeavesNothing) {
  PatternWindows windows(2);
  ASSERT_TRUE(windows.ready());
  start();
  ASSERT_FALSE(HasFatalFailure());
  const std::vector<SwayOutput> outputs = swayOutputs();
  ASSERT_EQ(outputs.size(), 2u);
  const SwayOutput& covered = outputs[1];
  const std::optional<int64_t> id = focusOutput(covered.name);
  ASSERT_TRUE(id);
  const RgbImage before = grimOutput(covered.name);
  const RgbImage otherBefore = grimOutput(outputs[0].name);
  // A key typed until a window has it (wtype's first keys may come before
  // a client has its keymap).
  auto reaches = [&](const char* key) {
    return waitUntil([&] {
      type(key);
      return windows.keysPressed().find(key) != std::string::npos;
    });
  };
  ASSERT_TRUE(reaches("a"));

  ASSERT_TRUE(
      isSuccess(call("dravel/capture", "enterOverlay", ValueMap{{"displayId", *id}}), Value()));
  ASSERT_TRUE(isSuccess(call("dravel/capture", "freezeOverlay"), Value()));
  // Frozen, the overlay is opaque black: every pixel of its output, none of
  // the other's.
  EXPECT_TRUE(waitUntil([&] { return black(covered.name); })) << hostLog();
  EXPECT_EQ(grimOutput(outputs[0].name).rgb, otherBefore.rgb);
  for (int i = 0; i < 3; ++i) type("b");
  const std::string png = dir_ + "/shot.png";
  ASSERT_EQ(ctl({"screenshot", "-o", png, "--display", std::to_string(*id)}), 0)
      << readFile(dir_ + "/ctl.err") << hostLog();
  EXPECT_EQ(rgbOf(pngFileImage(png)).differingPixels(before), 0);
  // The rest of the flow: the capture copied, as the interface does.
  const std::string shot = readFile(png);
  ASSERT_TRUE(isSuccess(call("dravel/capture", "copyPng",
                             ValueMap{{"png", Value(ByteBuffer(shot.begin(), shot.end()))}}),
                        Value()));
  std::string pasted;
  EXPECT_TRUE(runCommand({"wl-paste", "--no-newline", "-t", "image/png"}, &pasted) &&
              pasted == shot);

  ASSERT_TRUE(isSuccess(call("dravel/capture", "exitOverlay"), Value()));
  EXPECT_TRUE(waitUntil([&] { return grimOutput(covered.name).rgb == before.rgb; }));
  EXPECT_TRUE(reaches("c"));
  EXPECT_EQ(windows.keysPressed().find('b'), std::string::npos) << windows.keysPressed();
  // No window of the host's in sway's tree, fullscreen or focused.
  std::string hostNodes;
  ASSERT_TRUE(runCommand(
      {"sh", "-c",
       "swaymsg -r -t get_tree | jq -c '[.. | objects | select(.pid? == " + std::to_string(pid_) +
           " and (.focused or .fullscreen_mode > 0))] | length'"},
      &hostNodes));
  EXPECT_EQ(hostNodes, "0\n");
}

// The drawn diagonal arrow on the overlay, as grim shows it with the pointer
// (a virtual one) over the middle of each output: centred on the pointer,
// twice as many pixels across on the output at scale 2.
TEST_F(SwayHost, TheOverlaysArrowIsDrawnAtEachOutputsScale) {
  start();
  ASSERT_FALSE(HasFatalFailure());
  const std::vector<SwayOutput> outputs = swayOutputs();
  int64_t width = 0, height = 0;
  for (const SwayOutput& o : outputs) {
    width = std::max(width, o.x + o.width);
    height = std::max(height, o.y + o.height);
  }
  const std::string pointer =
      (std::filesystem::read_symlink("/proc/self/exe").parent_path() / "dravel_virtual_pointer")
          .string();
  std::vector<int64_t> across;
  for (const SwayOutput& o : outputs) {
    SCOPED_TRACE(o.name);
    const std::optional<int64_t> id = focusOutput(o.name);
    ASSERT_TRUE(id);
    ASSERT_TRUE(
        isSuccess(call("dravel/capture", "enterOverlay", ValueMap{{"displayId", *id}}), Value()));
    ASSERT_TRUE(isSuccess(call("dravel/capture", "freezeOverlay"), Value()));
    ASSERT_TRUE(waitUntil([&] { return black(o.name); }));
    const pid_t moved =
        spawn({pointer, std::to_string(o.x + o.width / 2), std::to_string(o.y + o.height / 2),
               std::to_string(width), std::to_string(height)},
              dir_ + "/pointer.out", dir_ + "/pointer.err");
    ASSERT_TRUE(waitUntil([&] { return readFile(dir_ + "/pointer.out") == "ready\n"; }))
        << readFile(dir_ + "/pointer.err");
    ASSERT_TRUE(isSuccess(call("flutter/mousecursor", "activateSystemCursor",
                               ValueMap{{"device", int64_t{1}}, {"kind", "resizeUpLeftDownRight"}}),
                          Value()));
    // The box of the pixels the cursor paints over the black overlay, once
    // it is centred where the pointer is (a theme's arrow is not).
    const int64_t cx = o.modeWidth / 2, cy = o.modeHeight / 2;
    int64_t boxWidth = 0;
    EXPECT_TRUE(waitUntil([&] {
      const RgbImage shot = grimOutput(o.name, true);
      int64_t left = shot.width, right = -1, top = shot.height, bottom = -1;
      for (int64_t y = 0; y < shot.height; ++y) {
        for (int64_t x = 0; x < shot.width; ++x) {
          if (shot.pixel(x, y) != 0) {
            left = std::min(left, x), right = std::max(right, x);
            top = std::min(top, y), bottom = std::max(bottom, y);
          }
        }
      }
      boxWidth = right - left + 1;
      return right >= 0 && std::abs((left + right) / 2 - cx) <= 2 &&
             std::abs((top + bottom) / 2 - cy) <= 2;
    })) << hostLog();
    across.push_back(boxWidth);
    stopProcess(moved);
    ASSERT_TRUE(isSuccess(call("dravel/capture", "exitOverlay"), Value()));
  }
  ASSERT_EQ(across.size(), 2u);
  // HEADLESS-1 is at scale 2, HEADLESS-2 at 1.
  EXPECT_GT(across[1], 8);
  EXPECT_LE(across[1], 24);
  EXPECT_NEAR(across[0], 2 * across[1], 2);
}

// As on X11: the host says why, removes its socket and ends with status 1.
TEST_F(SwayHost, EndsCleanlyWhenTheCompositorGoes) {
  start();
  ASSERT_FALSE(HasFatalFailure());
  ASSERT_TRUE(std::filesystem::exists(socket_));
  // sway may go before it answers: swaymsg's status says nothing.
  runCommand({"swaymsg", "exit"});
  EXPECT_EQ(waitFor(pid_, 20), 1) << hostLog();
  pid_ = -1;
  EXPECT_FALSE(std::filesystem::exists(socket_));
}

class SwayClipboard : public WaylandClipboard {};

// Through the compositor's data control: no focus needed.
TEST_F(SwayClipboard, CopiesComeBackThroughWlPasteWithFocusAndWithout) {
  ASSERT_EQ(waylandTestDesktop(), "sway");
  copiesComeBackThroughWlPaste();
}

}  // namespace
}  // namespace dravel::testing
