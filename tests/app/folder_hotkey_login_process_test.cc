// End-to-end: the permission probes, the hotkey probe, the save folder and the
// autostart channel of the real dravel-host binary, on simulated desktops
// given as scenario files and changed over "sim/desktop".
#include <gtest/gtest.h>

#include <chrono>
#include <thread>

#include "channels/socket_client.h"
#include "channels/standard_codec.h"
#include "host/screen_recording_access.h"
#include "tests/support/host_fixture.h"
#include "tests/support/host_process.h"

namespace dravel::testing {
namespace {

using namespace std::chrono_literals;

class HostOnScenario : public HostProcessTest {
 protected:
  void TearDown() override {
    if (pid_ > 0) {
      EXPECT_EQ(stopHost(), 0) << hostLog();
    }
    HostProcessTest::TearDown();
  }

  void start(const std::string& scenarioJson) { startOnScenario(scenarioJson); }

  MethodResponse capture(const std::string& method, Value args = Value()) {
    return call("dravel/capture", method, std::move(args));
  }
  MethodResponse autostart(const std::string& method, Value args = Value()) {
    return call("dravel/autostart", method, std::move(args));
  }
  void load(Value scenario) {
    ASSERT_TRUE(isSuccess(call("sim/desktop", "load", std::move(scenario)), Value()));
  }
};

TEST_F(HostOnScenario, PermissionProbesAndTheSettingsPane) {
  start(R"({
    "permissions": {"screenRecording": true},
    "windows": [{"kCGWindowLayer": 0, "kCGWindowOwnerPID": 900, "kCGWindowOwnerName": "Notes",
                 "kCGWindowName": "", "kCGWindowAlpha": 1.0,
                 "kCGWindowBounds": {"X": 10, "Y": 40, "Width": 400, "Height": 300}}],
    "runningApplications": [{"pid": 901, "bundleIdentifier": "com.apple.accessibility.universalAccessAuthWarn",
                             "name": "universalAccessAuthWarn"}],
    "settings": {"unopenable": [")" +
        std::string(ScreenRecordingAccess::kFirstSettingsAddress) + R"("]}
  })");
  EXPECT_TRUE(isSuccess(capture("hasPermission"), Value(false)));    // only an untitled window
  EXPECT_TRUE(isSuccess(capture("isPromptVisible"), Value(false)));  // the agent has no window

  load(ValueMap{{"windows", ValueList{ValueMap{{"kCGWindowLayer", 0},
                                               {"kCGWindowOwnerPID", 901},
                                               {"kCGWindowOwnerName", "universalAccessAuthWarn"},
                                               {"kCGWindowName", "Screen Recording"}}}}});
  EXPECT_TRUE(isSuccess(capture("isPromptVisible"), Value(true)));
  EXPECT_TRUE(isSuccess(capture("hasPermission"), Value(true)));
  load(ValueMap{{"permissions", ValueMap{{"screenRecording", false}}}});
  EXPECT_TRUE(isSuccess(capture("hasPermission"), Value(false)));

  EXPECT_TRUE(isSuccess(capture("openSettings"), Value()));
  const Value settings = state("settings");
  EXPECT_EQ(*settings.at("attempts"),
            Value(ValueList{ScreenRecordingAccess::kFirstSettingsAddress,
                            ScreenRecordingAccess::kSecondSettingsAddress}));
  EXPECT_EQ(*settings.at("opened"),
            Value(ValueList{ScreenRecordingAccess::kSecondSettingsAddress}));
}

TEST_F(HostOnScenario, HotkeyProbeAndAutostart) {
  start(R"({
    "hotkeys": {"64": {"enabled": true, "value": {"parameters": [32, 49, 1048576], "type": "standard"}},
                "65": {"enabled": false, "value": {"parameters": [32, 49, 1179648], "type": "standard"}},
                "broken": {"enabled": 1, "value": {"parameters": [32, 50]}}},
    "loginItem": {"status": 2}
  })");
  EXPECT_TRUE(
      isSuccess(capture("probeHotkey", ValueMap{{"keyCode", 49}, {"modifiers", ValueList{"meta"}}}),
                Value(false)));
  EXPECT_TRUE(isSuccess(
      capture("probeHotkey", ValueMap{{"keyCode", 49}, {"modifiers", ValueList{"meta", "shift"}}}),
      Value(true)));
  EXPECT_TRUE(isSuccess(capture("probeHotkey", ValueMap{{"keyCode", 50}}), Value(true)));
  EXPECT_TRUE(
      isSuccess(capture("probeHotkey", ValueMap{{"modifiers", ValueList{"meta"}}}), Value()));
  load(ValueMap{{"hotkeys", Value()}});
  EXPECT_TRUE(isSuccess(capture("probeHotkey", ValueMap{{"keyCode", 49}}), Value()));

  EXPECT_TRUE(isSuccess(autostart("isEnabled"), Value(false)));  // waiting for approval
  EXPECT_TRUE(isSuccess(autostart("setEnabled", ValueMap{{"enabled", true}}), Value()));
  EXPECT_TRUE(isSuccess(autostart("isEnabled"), Value(true)));
  EXPECT_TRUE(isSuccess(autostart("setEnabled", ValueMap{{"enabled", "yes"}}), Value()));
  EXPECT_TRUE(isSuccess(autostart("isEnabled"), Value(false)));
  load(ValueMap{{"loginItem", ValueMap{{"refuseRegister", "Operation not permitted"}}}});
  EXPECT_TRUE(isError(autostart("setEnabled", ValueMap{{"enabled", true}}), "autostart_failed",
                      "Operation not permitted"));
  EXPECT_TRUE(std::holds_alternative<FlutterMethodNotImplementedT>(autostart("IsEnabled")));
  EXPECT_EQ(state("loginItem"),
            Value(ValueMap{{"status", 0}, {"registers", 1}, {"unregisters", 0}}));
}

TEST_F(HostOnScenario, SaveFolderPickBeginAndEnd) {
  const std::string shots = "/Users/me/Shots";
  start(
      R"({"savePanel": {"answer": "/Users/me/Shots"}, "bookmarks": {"stale": ["/Users/me/Shots"]}})");
  const Value picked =
      successValue(capture("pickSaveFolder", ValueMap{{"initialDirectory", "/Users/me"}}));
  ASSERT_EQ(picked.stringAt("path"), shots);
  std::optional<std::string> bookmark = picked.stringAt("bookmark");
  ASSERT_TRUE(bookmark);
  EXPECT_EQ(*state("savePanel").at("shown")->asList()->at(0).at("directoryURL"),
            Value("file:///Users/me/"));

  EXPECT_TRUE(isSuccess(capture("beginSaveFolderAccess", ValueMap{{"bookmark", *bookmark}}),
                        ValueMap{{"path", shots}, {"stale", true}, {"bookmark", *bookmark}}));
  EXPECT_TRUE(isError(capture("beginSaveFolderAccess", ValueMap{{"bookmark", *bookmark + "\n"}}),
                      "bad_bookmark"));
  EXPECT_TRUE(isError(capture("beginSaveFolderAccess", ValueMap{{"bookmark", ""}}), "unresolved",
                      "The bookmark data isn't in the correct format."));
  EXPECT_EQ(*state("bookmarks").at("open"), Value(ValueList{shots}));
  EXPECT_TRUE(isSuccess(capture("endSaveFolderAccess"), Value()));
  const Value bookmarks = state("bookmarks");
  EXPECT_EQ(*bookmarks.at("open"), Value(ValueList{}));
  EXPECT_EQ(*bookmarks.at("access")->at(shots),
            Value(ValueMap{{"starts", 1}, {"grants", 1}, {"stops", 1}}));

  // A panel the user has not closed yet: the pick waits, and a cancel answers null.
  load(ValueMap{{"savePanel", ValueMap{}}});
  auto waiting = connect();
  std::string error;
  ASSERT_TRUE(waiting->sendFrame(FrameKind::kCall, waiting->nextRequestId(), "dravel/capture",
                                 StandardMethodCodec::encodeMethodCall({"pickSaveFolder", Value()}),
                                 &error));
  for (int i = 0; i < 200 && *state("savePanel").at("open") != Value(1); ++i)
    std::this_thread::sleep_for(5ms);
  EXPECT_TRUE(isSuccess(call("sim/desktop", "answerSavePanel", ValueMap{{"answer", Value()}}),
                        Value(true)));
  auto frame = waiting->readFrame(&error, 20);
  ASSERT_TRUE(frame) << error;
  EXPECT_TRUE(isSuccess(decodeReply(frame->payload), Value()));
}

}  // namespace
}  // namespace dravel::testing
