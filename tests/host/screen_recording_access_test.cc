#include "host/screen_recording_access.h"

#include "platform/sim/sim_desktop.h"
#include "tests/support/host_fixture.h"

namespace dravel::testing {
namespace {

constexpr int kOtherPid = 512;

Value windowEntry(Value pid, Value layer, Value owner, Value name = Value()) {
  ValueMap entry{{"kCGWindowOwnerPID", std::move(pid)},
                 {"kCGWindowLayer", std::move(layer)},
                 {"kCGWindowOwnerName", std::move(owner)}};
  if (!name.isNull()) entry.set("kCGWindowName", std::move(name));
  return entry;
}

class PermissionProbe : public LaunchedHostTest {
 protected:
  void showWindows(ValueList entries) { desktop().windowList().entries = std::move(entries); }
  void runApp(int pid, std::optional<std::string> bundleId) {
    desktop().runningApplications().apps.push_back({pid, std::move(bundleId), std::nullopt, "app"});
  }
};

TEST_F(PermissionProbe, FlagFalseAnswersFalseWithoutReadingTheWindowList) {
  showWindows({windowEntry(kOtherPid, 0, "Safari", "Start Page")});
  desktop().screenCaptureAccess().granted = false;
  EXPECT_TRUE(isSuccess(capture("hasPermission"), Value(false)));
  EXPECT_EQ(desktop().windowList().reads, 0);
}

TEST_F(PermissionProbe, OnlyATitledOrdinaryWindowOfAnotherApplicationCounts) {
  ValueMap numericKeys;
  numericKeys.set(Value(1), Value(2));
  const Value titled = windowEntry(kOtherPid, 0, "Safari", "Start Page");
  const int own = desktop().processInfo().pid;
  struct Row {
    const char* label;
    ValueList windows;
    std::optional<bool> visible;
  };
  const Row rows[] = {
      {"a titled window", {windowEntry(kOtherPid, 0, "Notes"), titled}, true},
      // A title of another type is no title either.
      {"untitled",
       {windowEntry(kOtherPid, 0, "Notes"), windowEntry(kOtherPid + 1, 0, "Mail", ""),
        windowEntry(kOtherPid + 2, 0, "Maps", 42)},
       false},
      {"system owners",
       {windowEntry(kOtherPid, 0, "Dock"), windowEntry(kOtherPid, 0, "Window Server"),
        windowEntry(kOtherPid, 0, "WindowServer")},
       std::nullopt},
      {"owner names compared exactly", {windowEntry(kOtherPid, 0, "dock")}, false},
      {"own windows and other layers",
       {windowEntry(own, 0, "Dravel", "Dravel"), windowEntry(kOtherPid, 25, "Menu Extra", "Clock"),
        windowEntry(kOtherPid, -1, "Widget", "Weather")},
       std::nullopt},
      {"an untitled one among them",
       {windowEntry(own, 0, "Dravel", "Dravel"), windowEntry(kOtherPid, 25, "Menu Extra", "Clock"),
        windowEntry(kOtherPid, 0, "Notes")},
       false},
      {"mistyped entries",
       {windowEntry("512", 0, "Safari", "Title"),
        windowEntry(int64_t{1} << 32, 0, "Safari", "Title"),  // not a 32-bit pid
        windowEntry(kOtherPid, 0.0, "Safari", "Title"),
        windowEntry(kOtherPid, "0", "Safari", "Title"), windowEntry(kOtherPid, 0, Value(), "Title"),
        windowEntry(kOtherPid, 0, 7, "Title")},
       std::nullopt},
      {"a list of another shape", {titled, Value("not a map")}, std::nullopt},
      {"a map of other keys", {titled, Value(numericKeys)}, std::nullopt},
      {"no windows", {}, std::nullopt},
  };
  for (const Row& row : rows) {
    showWindows(row.windows);
    EXPECT_EQ(ScreenRecordingAccess::windowNamesVisible(), row.visible) << row.label;
    // No answer counts as permission.
    EXPECT_TRUE(isSuccess(capture("hasPermission"), Value(row.visible.value_or(true))))
        << row.label;
  }
  EXPECT_EQ(desktop().windowList().lastOption, 17u);
  EXPECT_EQ(desktop().windowList().lastRelativeTo, 0u);
  showWindows({titled});
  desktop().windowList().unreadable = true;
  EXPECT_EQ(ScreenRecordingAccess::windowNamesVisible(), std::nullopt);
}

TEST_F(PermissionProbe, PromptIsVisibleOnlyWhileTheAgentHasAWindow) {
  const int agent = 777;
  showWindows(
      {windowEntry(kOtherPid, 0, "Safari", "Title"), ValueMap{{"kCGWindowOwnerPID", agent}}});
  // Bundle ids are compared exactly; an application without one never matches.
  runApp(agent, "com.apple.accessibility.UniversalAccessAuthWarn");
  runApp(kOtherPid, std::nullopt);
  EXPECT_TRUE(isSuccess(capture("isPromptVisible"), Value(false)));
  EXPECT_EQ(desktop().windowList().reads, 0);  // no agent, no need to look

  runApp(agent + 1, "com.apple.accessibility.universalAccessAuthWarn");
  EXPECT_TRUE(isSuccess(capture("isPromptVisible"), Value(false)));  // running, no window
  // Any window of the agent counts, whatever its layer or title.
  desktop().runningApplications().apps.back().processIdentifier = agent;
  EXPECT_TRUE(isSuccess(capture("isPromptVisible"), Value(true)));
  desktop().windowList().unreadable = true;
  EXPECT_TRUE(isSuccess(capture("isPromptVisible"), Value(false)));
}

TEST_F(PermissionProbe, OpenSettingsTriesTheSecondAddressOnlyWhenTheFirstFails) {
  const std::string first =
      "x-apple.systempreferences:com.apple.settings.PrivacySecurity.extension?Privacy_"
      "ScreenCapture";
  const std::string second =
      "x-apple.systempreferences:com.apple.preference.security?Privacy_ScreenCapture";
  EXPECT_TRUE(isSuccess(capture("openSettings"), Value()));
  EXPECT_EQ(desktop().workspace().openAttempts, std::vector<std::string>{first});

  desktop().workspace().openAttempts.clear();
  desktop().workspace().unopenableURLs[first] = true;
  EXPECT_TRUE(isSuccess(capture("openSettings"), Value()));
  EXPECT_EQ(desktop().workspace().openAttempts, (std::vector<std::string>{first, second}));

  // Neither opens: still a plain null.
  desktop().workspace().unopenableURLs[second] = true;
  EXPECT_TRUE(isSuccess(capture("openSettings"), Value()));
  EXPECT_EQ(desktop().workspace().opened, (std::vector<std::string>{first, second}));
}

}  // namespace
}  // namespace dravel::testing
