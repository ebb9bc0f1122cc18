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
};

TEST_F(PermissionProbe, FlagFalseAnswersFalseWithoutReadingTheWindowList) {
  showWindows({windowEntry(kOtherPid, 0, "Safari", "Start Page")});
  desktop().screenCaptureAccess().granted = false;
  EXPECT_TRUE(isSuccess(capture("hasPermission"), Value(false)));
  EXPECT_EQ(desktop().windowList().reads, 0);
}

TEST_F(PermissionProbe, OnlyATitledOrdinaryWindowOfAnotherApplicationCounts) {
  const Value titled = windowEntry(kOtherPid, 0, "Safari", "Start Page");
  const int own = desktop().processInfo().pid;
  struct Row {
    const char* label;
    ValueList windows;
    std::optional<bool> visible;
  };
  const Row rows[] = {
      {"a titled window", {windowEntry(kOtherPid, 0, "Notes"), titled}, true},
      {"untitled",
       {windowEntry(kOtherPid, 0, "Notes"), windowEntry(kOtherPid + 1, 0, "Mail", "")},
       false},
      {"system owners", {windowEntry(kOtherPid, 0, "Dock", "Dock")}, std::nullopt},
      {"own windows and other layers",
       {windowEntry(own, 0, "Dravel", "Dravel"), windowEntry(kOtherPid, 25, "Menu Extra", "Clock")},
       std::nullopt},
      // A pid beyond 32 bits is no pid, not one that wraps to another.
      {"not a 32-bit pid",
       {windowEntry((int64_t{1} << 32) + kOtherPid, 0, "Safari", "Title")},
       std::nullopt},
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

}  // namespace
}  // namespace dravel::testing
