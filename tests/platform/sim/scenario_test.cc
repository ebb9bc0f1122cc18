// Scenarios as the simulated desktop loads them: sections, values out of
// bounds, loads that are all or nothing, files, and the desktop channel.
#include "platform/sim/scenario.h"

#include <algorithm>
#include <cmath>
#include <fstream>
#include <limits>

#include "platform/sim/json_value.h"
#include "platform/sim/scenario_registry.h"
#include "platform/sim/sim_desktop_channel.h"
#include "tests/support/host_fixture.h"

namespace dravel::testing {
namespace {

Value json(const char* text) {
  auto parsed = sim::valueFromJson(text);
  if (auto* why = std::get_if<std::string>(&parsed)) {
    ADD_FAILURE() << *why;
    return Value();
  }
  return std::get<Value>(parsed);
}

class Scenario : public HostTest {};

const double kNaN = std::numeric_limits<double>::quiet_NaN();
const double kInf = std::numeric_limits<double>::infinity();

Value screenWith(Value frame, Value scale = Value(1.0), Value displayId = Value(1)) {
  return ValueList{ValueMap{{"frame", frame}, {"scale", scale}, {"displayId", displayId}}};
}

Value frame(double x, double y, double w, double h) {
  return ValueList{Value(x), Value(y), Value(w), Value(h)};
}

TEST_F(Scenario, OutOfRangeValuesAreRefusedNamingKeyAndValue) {
  // Each reading helper's bound, the culprit named.
  const std::pair<ValueMap, std::string> cases[] = {
      {{{"screens", screenWith(frame(kNaN, 0, 1440, 900))}}, "screens: screens[0].frame x: nan"},
      {{{"screens", screenWith(frame(0, 0, 1440, 900), Value(1e308))}},
       "screens: screens[0].scale: 1e+308"},
      {{{"screens", screenWith(frame(0, 0, 1440, 900), Value(1.0), Value(int64_t{1} << 40))}},
       "screens: screens[0].displayId: 1099511627776"},
      {{{"pointer", ValueList{Value(0.0), Value(1e308)}}}, "pointer: pointer y: 1e+308"},
      {{{"alerts", ValueMap{{"script", ValueList{ValueMap{{"at", -1}}}}}}}, "alerts: script[0].at"},
      {{{"processes", ValueList{ValueMap{{"pid", 5}, {"quitAfterTerminate", kInf}}}}},
       "processes: [0].quitAfterTerminate"},
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

TEST_F(Scenario, ARefusedScenarioChangesNothing) {
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
  };
  for (const Value& scenario : scenarios) {
    EXPECT_NE(sim::applyScenario(scenario, desktop()), "");
    EXPECT_EQ(sim::scenarioState(desktop()), before);
  }
  ASSERT_EQ(desktop().tray().menus.size(), 1u);
  EXPECT_EQ(desktop().tray().menus[0]->itemArray().at(0)->title(), "Kept");
}

TEST_F(Scenario, LoadsTheProcessSectionsAndIgnoresKeysNoSectionReads) {
  std::string why = sim::applyScenario(json(R"({
    "process": {"pid": 77, "bundleIdentifier": null, "environment": {"APP_SANDBOX_CONTAINER_ID": "x"}},
    "permissions": {"screenRecording": false, "grantOnRequest": true},
    "runningApplications": [{"pid": 5, "bundleIdentifier": "a.b", "bundlePath": "/A.app", "name": "A"},
                            {"pid": 6}],
    "application": {"activationPolicy": 1},
    "someFutureSection": {"anything": [1, 2]}
  })"),
                                       desktop());
  ASSERT_EQ(why, "");
  EXPECT_EQ(desktop().processInfo().pid, 77);
  EXPECT_EQ(desktop().processInfo().bundleId, std::nullopt);
  EXPECT_EQ(desktop().processInfo().environmentValue("APP_SANDBOX_CONTAINER_ID"), "x");
  EXPECT_FALSE(desktop().screenCaptureAccess().granted);
  EXPECT_TRUE(desktop().screenCaptureAccess().grantOnRequest);
  ASSERT_EQ(desktop().runningApplications().apps.size(), 2u);
  EXPECT_EQ(desktop().runningApplications().apps[0], (RunningApplication{5, "a.b", "/A.app", "A"}));
  EXPECT_EQ(desktop().runningApplications().apps[1], (RunningApplication{6, {}, {}, ""}));
  EXPECT_EQ(desktop().application().policy, kActivationPolicyAccessory);

  // A section present again replaces its whole state: missing fields go back
  // to their defaults; sections not named keep theirs.
  ASSERT_EQ(sim::applyScenario(json(R"({"process": {"pid": 9}})"), desktop()), "");
  EXPECT_EQ(desktop().processInfo().bundleId, "app.dravel.Dravel");
  EXPECT_FALSE(desktop().processInfo().environmentValue("APP_SANDBOX_CONTAINER_ID"));
  EXPECT_FALSE(desktop().screenCaptureAccess().granted);
}

TEST_F(Scenario, RefusesMistypedFieldsNamingThem) {
  const std::pair<const char*, const char*> cases[] = {
      {R"([1])", "a scenario is a map with string keys"},
      {R"({"runningApplications": [{"pid": 1}, {"name": "x"}]})",
       "runningApplications: [1].pid: expected a process id"},
  };
  for (const auto& [text, expected] : cases) {
    EXPECT_EQ(sim::applyScenario(json(text), desktop()), expected) << text;
  }
  EXPECT_EQ(desktop().processInfo().pid, 4100) << "a refused section changes nothing";
}

TEST(JsonValue, ReadsTypedMarkersOnlyWhenAsked) {
  std::string file = ::testing::TempDir() + "/json_value_test.bin";
  std::ofstream(file, std::ios::binary) << std::string("\x00\xff", 2);
  const std::string text = R"({"i": 2, "d": 2.0, "ti": {"$int": 3}, "td": {"$double": 3},
    "h": {"$hex": "0aFF"}, "f": {"$file": ")" +
                           file + R"("}, "big": 9223372036854775807})";
  Value typed = std::get<Value>(sim::valueFromJson(text, {.typedMarkers = true}));
  EXPECT_EQ(typed.at("i")->type(), Value::Type::kInt);
  EXPECT_EQ(typed.at("d")->type(), Value::Type::kDouble);
  EXPECT_EQ(*typed.at("ti"), Value(3));
  EXPECT_EQ(*typed.at("td"), Value(3.0));
  EXPECT_EQ(*typed.at("h"), Value(ByteBuffer{0x0a, 0xff}));
  EXPECT_EQ(*typed.at("f"), Value(ByteBuffer{0x00, 0xff}));
  EXPECT_EQ(*typed.at("big"), Value(int64_t{9223372036854775807}));

  Value plain = std::get<Value>(sim::valueFromJson(R"({"ti": {"$int": 3}})"));
  EXPECT_EQ(*plain.at("ti"), Value(ValueMap{{"$int", 3}}));

  for (const char* bad : {R"({"$hex": "abc"})", R"({"$hex": "zz"})", R"({"$int": 1.5})",
                          R"({"$file": "/nonexistent/x"})", R"(18446744073709551615)", "{"}) {
    EXPECT_TRUE(
        std::holds_alternative<std::string>(sim::valueFromJson(bad, {.typedMarkers = true})))
        << bad;
  }
}

TEST(JsonValue, WritesBytesThroughTheRendererAndOddKeysReadably) {
  ValueMap map;
  map.set(Value(1), Value("one"));
  map.set("b", Value(ByteBuffer{1, 2, 3}));
  map.set("nan", Value(std::nan("")));
  EXPECT_EQ(sim::jsonFromValue(Value(map), -1), R"({"1":"one","b":{"$bytes":3},"nan":null})");
  EXPECT_EQ(
      sim::jsonFromValue(Value(ByteBuffer{1}), -1,
                         [](std::span<const uint8_t> b) { return std::to_string(b.size() * 10); }),
      "10");
}

class SimDesktopChannelTest : public HostTest {
 protected:
  void SetUp() override {
    HostTest::SetUp();
    launch();
    channel_ = std::make_unique<sim::SimDesktopChannel>(desktop(), *env_->hostEnd);
  }
  void TearDown() override {
    channel_.reset();
    HostTest::TearDown();
  }
  std::unique_ptr<sim::SimDesktopChannel> channel_;
};

TEST_F(SimDesktopChannelTest, LoadsScenariosAndReportsState) {
  auto reply = call("sim/desktop", "load", json(R"({"permissions": {"screenRecording": false}})"));
  ASSERT_TRUE(reply);
  EXPECT_TRUE(isSuccess(*reply, Value()));
  EXPECT_TRUE(isSuccess(capture("hasPermission"), Value(false)));

  reply = call("sim/desktop", "state");
  ASSERT_TRUE(reply);
  const Value& state = successValue(*reply);
  EXPECT_EQ(*state.at("permissions")->at("screenRecording"), Value(false));
  EXPECT_EQ(*state.at("mainWindow")->at("visible"), Value(false));
  EXPECT_EQ(*state.at("mainWindow")->at("alpha"), Value(0.0));
}

TEST_F(SimDesktopChannelTest, TheLogHoldsTheLinesOfTheStartUpBeforeTheChannelWasMade) {
  // The fixture launched the host before it made the channel.
  NSLog("[test] after the start-up");
  const Value state = channel_->state();
  const ValueList* log = state.at("log")->asList();
  ASSERT_TRUE(log);
  auto startUp = std::find_if(log->begin(), log->end(), [](const Value& line) {
    return line.asString() && line.asString()->starts_with("[Sparkle] channel registered");
  });
  ASSERT_NE(startUp, log->end()) << "the updater's registration during the launch";
  auto later = std::find(log->begin(), log->end(), Value("[test] after the start-up"));
  ASSERT_NE(later, log->end());
  EXPECT_LT(startUp, later);
}

TEST_F(SimDesktopChannelTest, ReportsTheClipboardRevealedFilesAndOpenedAddresses) {
  PasteboardItem item;
  item.setData(kPasteboardTypePNG, {1, 2});
  desktop().pasteboard().clearContents();
  desktop().pasteboard().writeObjects({item});
  desktop().workspace().activateFileViewerSelectingURLs({"file:///a.png"});
  desktop().workspace().openURL("https://example.org/");
  const Value state = channel_->state();
  EXPECT_EQ(*state.at("clipboard"),
            Value(ValueMap{{"changeCount", 2},
                           {"items", ValueList{ValueMap{{"public.png", ByteBuffer{1, 2}}}}}}));
  EXPECT_EQ(*state.at("revealed"), Value(ValueList{ValueList{"file:///a.png"}}));
  EXPECT_EQ(*state.at("opened"), Value(ValueList{"https://example.org/"}));
}

TEST_F(SimDesktopChannelTest, DispatchesRegisteredActionsAndAnswersOthersNotImplemented) {
  sim::registerSimAction({"testAction", [](const Value& args, sim::SimDesktop& d, FlutterResult r) {
                            d.input().pointer = {args.doubleAt("x").value_or(0), 1};
                            r(Value("moved"));
                          }});
  auto reply = call("sim/desktop", "testAction", Value(ValueMap{{"x", 5.0}}));
  ASSERT_TRUE(reply);
  EXPECT_TRUE(isSuccess(*reply, Value("moved")));
  EXPECT_EQ(desktop().input().pointer, (Point{5, 1}));
  reply = call("sim/desktop", "noSuchAction");
  ASSERT_TRUE(reply);
  EXPECT_TRUE(std::holds_alternative<FlutterMethodNotImplementedT>(*reply));
}

}  // namespace
}  // namespace dravel::testing
