#include <cmath>

#include "tests/platform/sim/sim_sections.h"
#include "tests/support/host_fixture.h"

namespace dravel::testing {
namespace {

class DisplayScenario : public HostTest {
 protected:
  void SetUp() override {
    HostTest::SetUp();
    launch();
  }
  std::string load(const std::string& key, Value value) {
    return loadSection(key, value, desktop());
  }
  Value state(const std::string& key) { return sectionState(key, desktop()); }
  static Value list(std::initializer_list<Value> items) { return Value(ValueList(items)); }
};

TEST_F(DisplayScenario, ScreensKeepRawDeviceDescriptions) {
  EXPECT_EQ(
      load("screens",
           list({Value(ValueMap{
                     {"frame", list({0, 0, 1440, 900})}, {"scale", 2}, {"displayId", 69733378}}),
                 Value(ValueMap{{"frame", list({-1920, 0, 1920, 1080})},
                                {"deviceDescription", ValueMap{{"NSScreenNumber", "x"}}}})})),
      "");
  EXPECT_EQ(load("mainScreen", Value()), "");
  auto& screens = desktop().screens();
  ASSERT_EQ(screens.list.size(), 2u);
  EXPECT_EQ(screens.list[1]->frame(), (Rect{-1920, 0, 1920, 1080}));
  EXPECT_EQ(screens.list[1]->backingScaleFactor(), 1.0);
  EXPECT_EQ(screens.mainScreen(), nullptr);
  EXPECT_EQ(
      state("screens").asList()->at(0).asMap()->find("deviceDescription")->intAt("NSScreenNumber"),
      69733378);
  // The second screen has no display id.
  desktop().input().pointer = {-1000, 500};
  EXPECT_TRUE(isError(capture("screenUnderCursor"), "no_screen"));
  EXPECT_TRUE(isError(capture("captureScreen"), "no_screen"));
  EXPECT_NE(load("screens", list({Value(ValueMap{{"frame", list({0, 0, 10})}})})), "");
  EXPECT_EQ(screens.list.size(), 2u);  // a refused load changes nothing
}

TEST_F(DisplayScenario, PointerWindowsVersionAndCaptureSwitches) {
  EXPECT_EQ(load("pointer", list({-1000, 500.5})), "");
  EXPECT_EQ(desktop().input().pointer, (Point{-1000, 500.5}));
  EXPECT_EQ(load("pressedButtons", Value(3)), "");
  EXPECT_EQ(desktop().input().buttons, 3u);
  EXPECT_EQ(load("windows", list({Value("not even a map")})), "");
  EXPECT_EQ(desktop().windowList().entries.size(), 1u);
  EXPECT_EQ(load("frontmostPid", Value()), "");
  EXPECT_EQ(desktop().workspace().frontmostPid, std::nullopt);
  EXPECT_EQ(load("osVersion", list({13, 6, 1})), "");
  EXPECT_EQ(desktop().processInfo().osVersion, (OperatingSystemVersion{13, 6, 1}));
  EXPECT_EQ(load("capture", Value(ValueMap{{"screenshotError", "Stream failed."},
                                           {"unshareableDisplays", list({2})},
                                           {"bitmapContextFails", true},
                                           {"imageFormat", "bgrx"}})),
            "");
  const auto& b = desktop().screenCapture().behaviour;
  EXPECT_EQ(b.screenshotError, "Stream failed.");
  EXPECT_EQ(b.unshareableDisplays, std::set<uint32_t>{2});
  EXPECT_EQ(b.imageFormat, PixelFormat::kBGRX);
  EXPECT_TRUE(desktop().graphics().failBitmapContexts);
  EXPECT_EQ(state("capture").stringAt("screenshotError"), "Stream failed.");
  EXPECT_NE(load("capture", Value(ValueMap{{"noSuchSwitch", true}})), "");
  // A new capture map replaces the switches it does not mention.
  EXPECT_EQ(load("capture", Value(ValueMap{})), "");
  EXPECT_FALSE(desktop().screenCapture().behaviour.screenshotError);
  EXPECT_FALSE(desktop().graphics().failBitmapContexts);
}

TEST_F(DisplayScenario, MovePointerActionMovesAndShowsThePointer) {
  desktop().input().cursorHiddenUntilMoved = true;
  auto answer = runAction("movePointer", ValueMap{{"x", 10}, {"y", 20.5}}, desktop());
  ASSERT_TRUE(answer);
  EXPECT_TRUE(isSuccess(*answer, Value()));
  EXPECT_EQ(desktop().input().pointer, (Point{10, 20.5}));
  EXPECT_FALSE(desktop().input().cursorHiddenUntilMoved);
  answer = runAction("movePointer", ValueMap{{"x", "10"}}, desktop());
  EXPECT_TRUE(answer && isError(*answer, "bad_args", "x and y expected"));
  answer = runAction("movePointer", ValueMap{{"x", std::nan("")}, {"y", 0.0}}, desktop());
  EXPECT_TRUE(answer && isError(*answer, "bad_args", "x: nan is not a finite number"));
  EXPECT_EQ(desktop().input().pointer, (Point{10, 20.5}));
}

TEST_F(DisplayScenario, TheMainWindowIsListedByTheWindowServerWhileOnScreen) {
  EXPECT_FALSE(desktop().windowList().mainWindowEntry());  // hidden after start-up
  window().setFrame({100, 200, 800, 600}, false);
  capture("raiseWindow");
  auto info = desktop().windowList().copyWindowInfo(17, 0);
  ASSERT_TRUE(info && info->asList() && !info->asList()->empty());
  const Value& own = info->asList()->front();
  EXPECT_EQ(own.intAt("kCGWindowOwnerPID"), desktop().processInfo().pid);
  EXPECT_EQ(own.intAt("kCGWindowNumber"), window().windowNumber());
  EXPECT_EQ(own.intAt("kCGWindowLayer"), 0);
  const Value* bounds = own.at("kCGWindowBounds");
  // 900 - (200 + 600): the top edge in top-left space.
  EXPECT_EQ(bounds->doubleAt("Y"), 100.0);
}

}  // namespace
}  // namespace dravel::testing
