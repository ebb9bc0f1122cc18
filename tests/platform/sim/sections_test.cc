// The simulated desktop's scenario sections: what each loads, refuses and
// reports. What its user actions then do is its own behaviour; the host's
// alerts, folder panels, pointer and ending of copies are checked on the X
// desktop by tests/desktop.
#include <gmock/gmock.h>

#include "tests/platform/sim/sim_sections.h"
#include "tests/support/host_fixture.h"

namespace dravel::testing {
namespace {

using ::testing::HasSubstr;
using Closed = std::pair<int, std::optional<std::string>>;

class SimSections : public HostTest {
 protected:
  std::string load(const std::string& key, const Value& value) {
    return loadSection(key, value, desktop());
  }
  Value stateOf(const std::string& key) { return sectionState(key, desktop()); }
  static Value list(std::initializer_list<Value> items) { return Value(ValueList(items)); }
};

class LaunchedSimSections : public SimSections {
 protected:
  void SetUp() override {
    SimSections::SetUp();
    launch();
  }
};

// A section refused as a whole is scenario_test's (ARefusedScenarioChangesNothing).
TEST_F(SimSections, TheLoginItemLoadsItsStatusAndRefusal) {
  ASSERT_EQ(load("loginItem", ValueMap{{"status", 2}, {"refuseRegister", "Needs approval"}}), "");
  EXPECT_EQ(desktop().loginItem().status(), kLoginItemRequiresApproval);
  EXPECT_EQ(desktop().loginItem().registerService(), "Needs approval");
}

TEST_F(SimSections, SavePanelAnswersOnItsOwnOrWaitsForTheUser) {
  std::vector<Closed> closed;
  auto record = [&](int response, std::optional<std::string> path) {
    closed.emplace_back(response, path);
  };
  EXPECT_EQ(load("savePanel", ValueMap{{"answer", "/pics"}}), "");
  desktop().openPanel().begin({}, record);
  EXPECT_TRUE(closed.empty());  // never before begin returns
  queue().runUntilIdle();
  EXPECT_EQ(closed, std::vector<Closed>{Closed(1, "/pics")});

  EXPECT_EQ(load("savePanel", ValueMap{}), "");
  desktop().openPanel().begin({}, record);
  queue().runUntilIdle();
  EXPECT_EQ(closed.size(), 1u);
}

TEST_F(LaunchedSimSections, ScreensKeepRawDeviceDescriptions) {
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
  EXPECT_EQ(screens.list[1]->deviceDescription(), (ValueMap{{"NSScreenNumber", "x"}}));
  EXPECT_EQ(screens.mainScreen(), nullptr);
  EXPECT_EQ(stateOf("screens")
                .asList()
                ->at(0)
                .asMap()
                ->find("deviceDescription")
                ->intAt("NSScreenNumber"),
            69733378);
}

TEST_F(LaunchedSimSections, PointerWindowsVersionAndCaptureSwitches) {
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
  EXPECT_EQ(stateOf("capture").stringAt("screenshotError"), "Stream failed.");
  EXPECT_NE(load("capture", Value(ValueMap{{"noSuchSwitch", true}})), "");
  // A new capture map replaces the switches it does not mention.
  EXPECT_EQ(load("capture", Value(ValueMap{})), "");
  EXPECT_FALSE(desktop().screenCapture().behaviour.screenshotError);
  EXPECT_FALSE(desktop().graphics().failBitmapContexts);
}

TEST_F(SimSections, ProcessesLoadTheirBehaviourAndReportWhatHappened) {
  desktop().runningApplications().apps.push_back({4200, "app.dravel.Dravel", "/A.app", "Dravel"});
  EXPECT_THAT(load("processes", ValueMap{}), HasSubstr("list"));
  EXPECT_THAT(load("processes", ValueList{ValueMap{{"traced", true}}}), HasSubstr("pid"));
  EXPECT_EQ(load("processes",
                 ValueList{ValueMap{{"pid", 4200}, {"ignoresTerminate", true}, {"traced", true}},
                           ValueMap{{"pid", 4300}, {"quitAfterTerminate", 1.5}}}),
            "");
  auto& control = desktop().processControl();
  EXPECT_TRUE(control.isTracedOrStopped(4200));
  EXPECT_EQ(control.process(4300).quitAfterTerminate, 1.5);
  control.forceEnd(4200);  // held by its debugger
  EXPECT_TRUE(control.isAlive(4200));

  Value state = stateOf("processes");
  EXPECT_EQ(*state.at("forcedEnds"), Value(ValueList{4200}));
  EXPECT_TRUE(state.at("exitStatus")->isNull());
}

TEST_F(SimSections, AlertsScriptPressesAndReportsWhatWasShown) {
  EXPECT_EQ(load("alerts", ValueMap{{"script", ValueList{ValueMap{{"at", 2}}}}}), "");
  AlertContent alert{kAlertStyleWarning, "Title", "Text", {"OK", "Cancel"}};
  EXPECT_EQ(desktop().alerts().runModal(alert), kAlertFirstButtonReturn);
  EXPECT_DOUBLE_EQ(queue().now(), 2.0);

  Value state = stateOf("alerts");
  ASSERT_EQ(state.at("shown")->asList()->size(), 1u);
  EXPECT_EQ(state.at("shown")->asList()->at(0).intAt("response"), 1000);
  EXPECT_EQ(state.boolAt("running"), false);
}

}  // namespace
}  // namespace dravel::testing
