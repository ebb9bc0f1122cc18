// Scenario values out of bounds, and loads that are all or nothing.
#include <cmath>
#include <limits>

#include "platform/sim/scenario.h"
#include "platform/sim/scenario_registry.h"
#include "tests/support/host_fixture.h"

namespace dravel::testing {
namespace {

const double kNaN = std::numeric_limits<double>::quiet_NaN();
const double kInf = std::numeric_limits<double>::infinity();

Value screenWith(Value frame, Value scale = Value(1.0), Value displayId = Value(1)) {
  return ValueList{ValueMap{{"frame", frame}, {"scale", scale}, {"displayId", displayId}}};
}

Value frame(double x, double y, double w, double h) {
  return ValueList{Value(x), Value(y), Value(w), Value(h)};
}

class ScenarioBounds : public HostTest {};

TEST_F(ScenarioBounds, EverySectionThatLoadsCanBeCheckedFirst) {
  for (const sim::ScenarioSection& section : sim::scenarioSections()) {
    if (section.load) {
      EXPECT_TRUE(section.check) << section.key;
    }
  }
}

TEST_F(ScenarioBounds, OutOfRangeValuesAreRefusedNamingKeyAndValue) {
  const std::pair<ValueMap, std::string> cases[] = {
      {{{"screens", screenWith(frame(0, 0, 0, 900))}},
       "screens: screens[0].frame width: 0 is out of range (above 0, at most 65536)"},
      {{{"screens", screenWith(frame(0, 0, 1440, -900))}},
       "screens: screens[0].frame height: -900 is out of range"},
      {{{"screens", screenWith(frame(0, 0, 1e308, 900))}},
       "screens: screens[0].frame width: 1e+308 is out of range"},
      {{{"screens", screenWith(frame(kNaN, 0, 1440, 900))}},
       "screens: screens[0].frame x: nan is not a finite number"},
      {{{"screens", screenWith(frame(0, -kInf, 1440, 900))}},
       "screens: screens[0].frame y: -inf is not a finite number"},
      {{{"screens", screenWith(frame(0, 0, 1440, 900), Value(kInf))}},
       "screens: screens[0].scale: inf is not a finite number"},
      {{{"screens", screenWith(frame(0, 0, 1440, 900), Value(1e308))}},
       "screens: screens[0].scale: 1e+308 is out of range (above 0, at most 8)"},
      {{{"screens", screenWith(frame(0, 0, 1440, 900), Value(1.0), Value(-1))}},
       "screens: screens[0].displayId: -1 is out of range (0 to 4294967295)"},
      {{{"screens", screenWith(frame(0, 0, 1440, 900), Value(1.0), Value(int64_t{1} << 40))}},
       "screens: screens[0].displayId: 1099511627776 is out of range (0 to 4294967295)"},
      {{{"pointer", ValueList{Value(kNaN), Value(0.0)}}},
       "pointer: pointer x: nan is not a finite number"},
      {{{"pointer", ValueList{Value(0.0), Value(1e308)}}},
       "pointer: pointer y: 1e+308 is out of range (at least -1000000, at most 1000000)"},
      {{{"capture", ValueMap{{"unshareableDisplays", ValueList{Value(-1)}}}}},
       "capture: unshareableDisplays[0]: -1 is out of range (0 to 4294967295)"},
      {{{"frontmostPid", Value(int64_t{1} << 40)}}, "frontmostPid: 1099511627776 is out of range"},
      {{{"osVersion", ValueList{Value(14), Value(-1)}}},
       "osVersion: osVersion[1]: -1 is out of range (0 to 999999)"},
      {{{"alerts", ValueMap{{"script", ValueList{ValueMap{{"at", kNaN}}}}}}},
       "alerts: script[0].at: expected a number of seconds from 0 to 1000000, got nan"},
      {{{"alerts", ValueMap{{"script", ValueList{ValueMap{{"at", -1}}}}}}},
       "alerts: script[0].at: expected a number of seconds from 0 to 1000000, got -1"},
      {{{"processes", ValueList{ValueMap{{"pid", 5}, {"quitAfterTerminate", kInf}}}}},
       "processes: [0].quitAfterTerminate: expected a number of seconds from -1000000 to "
       "1000000, got inf"},
      {{{"savePanel", ValueMap{{"response", int64_t{1} << 40}}}},
       "savePanel: response: 1099511627776 is out of range"},
  };
  for (const auto& [scenario, expected] : cases) {
    const std::string why = sim::applyScenario(Value(scenario), desktop());
    EXPECT_EQ(why.substr(0, expected.size()), expected) << why;
  }
  // The bounds themselves load.
  EXPECT_EQ(sim::applyScenario(
                Value(ValueMap{{"screens", screenWith(frame(-1e6, 1e6, 65536, 0.5), Value(8.0),
                                                      Value(int64_t{4294967295}))},
                               {"pointer", ValueList{Value(-1e6), Value(1e6)}},
                               {"osVersion", ValueList{Value(999999), Value(0), Value(0)}}}),
                desktop()),
            "");
  EXPECT_EQ(desktop().screens().list.at(0)->frame().width, 65536);
}

TEST_F(ScenarioBounds, ARefusedScenarioChangesNothing) {
  ASSERT_EQ(sim::applyScenario(
                Value(ValueMap{{"trayMenus", ValueList{ValueMap{{"labels", ValueList{"Kept"}}}}}}),
                desktop()),
            "");
  const ValueMap before = sim::scenarioState(desktop());
  // Sections that load early are fine; one that loads late is not.
  const Value scenarios[] = {
      ValueMap{{"process", ValueMap{{"pid", 7}}},
               {"screens", screenWith(frame(0, 0, 800, 600))},
               {"pointer", ValueList{Value(1.0), Value(2.0)}},
               {"trayMenus", ValueList{ValueMap{{"labels", ValueList{"New"}}},
                                       ValueMap{{"labels", ValueList{Value(1)}}}}}},
      ValueMap{{"permissions", ValueMap{{"screenRecording", false}}},
               {"windows", ValueList{}},
               {"processes", ValueList{ValueMap{{"pid", 5}, {"quitAfterTerminate", kNaN}}}}},
      ValueMap{{"application", ValueMap{{"activationPolicy", 2}}},
               {"pointer", ValueList{Value(kInf), Value(0.0)}}},
  };
  for (const Value& scenario : scenarios) {
    EXPECT_NE(sim::applyScenario(scenario, desktop()), "");
    EXPECT_EQ(sim::scenarioState(desktop()), before);
  }
  ASSERT_EQ(desktop().tray().menus.size(), 1u);
  EXPECT_EQ(desktop().tray().menus[0]->itemArray().at(0)->title(), "Kept");
}

}  // namespace
}  // namespace dravel::testing
