// Screens and the pointer on the test desktop, checked against what xrandr
// and xdotool say and do.
// Google Test before X, whose macros (None) would break it.
#include <gtest/gtest.h>

#include <X11/Xlib.h>
#include <unistd.h>

#include <sstream>
#include <string>
#include <vector>

#include "platform/linux/x11/x11_input.h"
#include "platform/linux/x11/x11_screens.h"
#include "platform/linux/x11/x11_connection.h"
#include "tests/support/x_desktop.h"

namespace dravel::linux_platform {
namespace {

using ::dravel::testing::commandOutput;
using ::dravel::testing::requireTestDesktop;

// The id X gives an output, from `xrandr --verbose`.
uint32_t outputIdentifier(const std::string& output) {
  std::istringstream text(commandOutput({"xrandr", "--verbose"}));
  bool inOutput = false;
  for (std::string row; std::getline(text, row);) {
    if (!row.empty() && row[0] != ' ' && row[0] != '\t') inOutput = row.rfind(output + " ", 0) == 0;
    const size_t at = row.find("Identifier: ");
    if (inOutput && at != std::string::npos) {
      return static_cast<uint32_t>(std::stoul(row.substr(at + 12), nullptr, 16));
    }
  }
  ADD_FAILURE() << "no output " << output << " in xrandr --verbose";
  return 0;
}

// An atom's number, from xlsatoms.
uint32_t atomNumber(const std::string& name) {
  return static_cast<uint32_t>(std::stoul(commandOutput({"xlsatoms", "-name", name}), nullptr, 10));
}

uint32_t displayIdOf(const Screen& screen) {
  const ValueMap description = screen.deviceDescription();
  const Value* id = description.find("NSScreenNumber");
  EXPECT_NE(id, nullptr);
  return id && id->asInt() ? static_cast<uint32_t>(*id->asInt()) : 0;
}

// Events the server has sent so far, dispatched.
void dispatchEvents(XConnection& connection) {
  XSync(connection.display(), False);
  connection.dispatchPending();
}

TEST(X11Screens, IdsFromTheOutputOrTheNameTheToolkitsScaleAndTheKeyWindowsScreen) {
  ASSERT_TRUE(requireTestDesktop());
  auto connection = ::dravel::testing::openXConnection();
  ASSERT_TRUE(connection);
  int scale = 1;
  X11Screens screens(*connection, [&] { return scale; });
  // The frames' arithmetic is the layout's (screen_layout_test) and the
  // host's answers are xrandr's (host_x11_test); here, what only the server
  // knows: which monitor carries an output, and the scale asked each time.
  std::vector<ScreenPtr> all = screens.screens();
  ASSERT_EQ(all.size(), 2u);
  // LEFT carries the output "screen"; RIGHT has none and goes by its name.
  EXPECT_EQ(displayIdOf(*all[0]), outputIdentifier("screen"));
  EXPECT_EQ(displayIdOf(*all[1]), kNamedMonitorIdTag | atomNumber("RIGHT"));
  scale = 2;
  EXPECT_EQ(screens.screens()[1]->frame(), (Rect{720, 0, 720, 900}));
  scale = 1;

  // No key window: no main screen.
  EXPECT_EQ(screens.mainScreen(), nullptr);
  std::optional<Rect> keyFrame;
  screens.setKeyWindowFrameSource([&] { return keyFrame; });
  EXPECT_EQ(screens.mainScreen(), nullptr);
  // Mostly on RIGHT, though it starts on LEFT.
  keyFrame = Rect{1300, 100, 800, 600};
  ASSERT_NE(screens.mainScreen(), nullptr);
  EXPECT_EQ(displayIdOf(*screens.mainScreen()), displayIdOf(*all[1]));
  keyFrame = Rect{100, 100, 800, 600};
  EXPECT_EQ(displayIdOf(*screens.mainScreen()), displayIdOf(*all[0]));
  // Centre off every screen: the screen it touches.
  keyFrame = Rect{2800, 1700, 400, 400};
  EXPECT_EQ(displayIdOf(*screens.mainScreen()), displayIdOf(*all[1]));
  keyFrame = Rect{5000, 5000, 10, 10};
  EXPECT_EQ(screens.mainScreen(), nullptr);
}

// Where the pointer is, in points, is checked end to end against xdotool and
// xrandr by host_x11_test.
TEST(X11Input, ButtonsAndThePointerHiddenUntilItMoves) {
  ASSERT_TRUE(requireTestDesktop());
  auto connection = ::dravel::testing::openXConnection();
  ASSERT_TRUE(connection);
  X11Screens screens(*connection, [] { return 1; });
  X11Input input(*connection, screens);
  // Over the empty desktop, where no client takes the clicks: left, right,
  // middle.
  commandOutput({"xdotool", "mousemove", "1000", "1700"});
  const std::vector<std::pair<std::vector<std::string>, uint32_t>> presses = {
      {{"mousedown", "3"}, 2}, {{"mousedown", "1"}, 3}, {{"mouseup", "3"}, 1},
      {{"mouseup", "1"}, 0},   {{"mousedown", "2"}, 4}, {{"mouseup", "2"}, 0}};
  for (const auto& [step, pressed] : presses) {
    commandOutput({"xdotool", step[0], step[1]});
    EXPECT_EQ(input.pressedMouseButtons(), pressed) << step[0] << " " << step[1];
  }

  // Hidden until the mouse moves, even while another client holds the pointer.
  commandOutput({"xdotool", "mousemove", "500", "500"});
  input.setCursorHiddenUntilMouseMoves(true);
  dispatchEvents(*connection);
  EXPECT_TRUE(input.cursorHidden()) << "nothing moved";
  commandOutput({"xdotool", "mousedown", "1"});
  // A move of the device (a warp, as `xdotool mousemove` makes, is none).
  commandOutput({"xdotool", "mousemove_relative", "30", "40"});
  commandOutput({"xdotool", "mouseup", "1"});
  for (int i = 0; i < 200 && input.cursorHidden(); ++i) {
    dispatchEvents(*connection);
    if (input.cursorHidden()) usleep(10000);
  }
  EXPECT_FALSE(input.cursorHidden());
  // Shown by hand, then hidden again and again: one hide at a time.
  input.setCursorHiddenUntilMouseMoves(true);
  input.setCursorHiddenUntilMouseMoves(true);
  EXPECT_TRUE(input.cursorHidden());
  input.setCursorHiddenUntilMouseMoves(false);
  EXPECT_FALSE(input.cursorHidden());
  EXPECT_EQ(untrappedXErrorCount(), 0u);
}

}  // namespace
}  // namespace dravel::linux_platform
