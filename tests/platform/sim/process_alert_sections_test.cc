// The scenario sections and actions of processes, alerts and the updater.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include "tests/platform/sim/sim_sections.h"
#include "tests/support/host_fixture.h"

namespace dravel::testing {
namespace {

using ::testing::HasSubstr;

TEST(ProcessAndAlertSections, ProcessesLoadTheirBehaviourAndReportWhatHappened) {
  SimEnvironment env;
  sim::SimDesktop& desktop = *env.desktop;
  desktop.runningApplications().apps.push_back({4200, "app.dravel.Dravel", "/A.app", "Dravel"});
  EXPECT_THAT(section("processes").load(ValueMap{}, desktop), HasSubstr("list"));
  EXPECT_THAT(section("processes").load(ValueList{ValueMap{{"traced", true}}}, desktop),
              HasSubstr("pid"));
  EXPECT_EQ(
      section("processes")
          .load(ValueList{ValueMap{{"pid", 4200}, {"ignoresTerminate", true}, {"traced", true}},
                          ValueMap{{"pid", 4300}, {"quitAfterTerminate", 1.5}}},
                desktop),
      "");
  auto& control = desktop.processControl();
  EXPECT_TRUE(control.isTracedOrStopped(4200));
  EXPECT_EQ(control.process(4300).quitAfterTerminate, 1.5);
  control.forceEnd(4200);  // held by its debugger
  EXPECT_TRUE(control.isAlive(4200));

  auto answer = runAction("endProcess", ValueMap{{"pid", 4200}}, desktop);
  ASSERT_TRUE(answer);
  EXPECT_TRUE(isSuccess(*answer, Value(true)));
  EXPECT_FALSE(control.isAlive(4200));
  EXPECT_TRUE(desktop.runningApplications().apps.empty());

  Value state = section("processes").state(desktop);
  EXPECT_EQ(*state.at("forcedEnds"), Value(ValueList{4200}));
  EXPECT_TRUE(state.at("exitStatus")->isNull());
}

TEST(ProcessAndAlertSections, AlertsScriptPressesAndThePressAction) {
  SimEnvironment env;
  sim::SimDesktop& desktop = *env.desktop;
  EXPECT_EQ(section("alerts").load(ValueMap{{"script", ValueList{ValueMap{{"at", 2}}}}}, desktop),
            "");
  AlertContent alert{kAlertStyleWarning, "Title", "Text", {"OK", "Cancel"}};
  EXPECT_EQ(desktop.alerts().runModal(alert), kAlertFirstButtonReturn);
  EXPECT_DOUBLE_EQ(env.queue.now(), 2.0);

  // Pressed from the channel while it runs; nothing runs afterwards.
  env.queue.asyncAfter(1.0, [&] {
    auto answer = runAction("pressAlertButton", ValueMap{{"button", "Cancel"}}, desktop);
    EXPECT_TRUE(answer && isSuccess(*answer, Value(true)));
  });
  EXPECT_EQ(desktop.alerts().runModal(alert), kAlertFirstButtonReturn + 1);
  auto answer = runAction("pressAlertButton", ValueMap{}, desktop);
  EXPECT_TRUE(answer && isSuccess(*answer, Value(false)));

  Value state = section("alerts").state(desktop);
  ASSERT_EQ(state.at("shown")->asList()->size(), 2u);
  EXPECT_EQ(state.at("shown")->asList()->at(1).intAt("response"), 1001);
  EXPECT_EQ(state.boolAt("running"), false);
}

}  // namespace
}  // namespace dravel::testing
