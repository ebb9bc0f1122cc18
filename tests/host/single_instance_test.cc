#include "host/app_delegate.h"
#include "host/main_flutter_window.h"
#include "tests/support/host_fixture.h"

namespace dravel::testing {
namespace {

constexpr const char* kBundle = "app.dravel.Dravel";

class SingleInstance : public HostTest {
 protected:
  void SetUp() override {
    HostTest::SetUp();
    desktop().processInfo().pid = 4100;
    addCopy(4100, "/Applications/Dravel.app");
  }
  sim::SimProcess& addCopy(int pid, std::optional<std::string> path) {
    desktop().runningApplications().apps.push_back({pid, std::string(kBundle), path, "Dravel"});
    return processes().process(pid);
  }
  sim::SimProcessControl& processes() { return desktop().processControl(); }
  sim::SimAlerts& alerts() { return desktop().alerts(); }
  std::vector<std::string> singleInstanceLines() { return logLines("[SingleInstance]"); }
};

TEST_F(SingleInstance, AloneOrWithoutABundleIdentifierNothingHappens) {
  desktop().runningApplications().apps.push_back(
      {4200, std::string("com.example.Other"), {}, "Other"});
  launch();
  EXPECT_TRUE(singleInstanceLines().empty());
  EXPECT_EQ(queue().pendingDelayed(), 0u);

  // A process without an identifier does not look for copies at all.
  desktop().processInfo().bundleId.reset();
  addCopy(4300, "/Applications/Dravel.app");
  host_.delegate->terminateOtherInstances();
  EXPECT_TRUE(desktop().runningApplications().terminateRequests.empty());
  EXPECT_EQ(queue().pendingDelayed(), 0u);
}

TEST_F(SingleInstance, EntriesWithoutAProcessOfTheirOwnAreNeverSignalled) {
  // A finished application reports pid -1; kill(-1, ...) would reach every
  // process of the user.
  addCopy(-1, "/Applications/Dravel.app").quitAfterTerminate = -1;
  addCopy(0, "/Applications/Dravel.app").quitAfterTerminate = -1;
  launch();
  queue().advance(5);
  EXPECT_TRUE(singleInstanceLines().empty());
  EXPECT_TRUE(desktop().runningApplications().terminateRequests.empty());
  EXPECT_TRUE(processes().forcedEnds.empty());
  EXPECT_TRUE(alerts().shown.empty());
}

TEST_F(SingleInstance, ACopyIgnoringTheRequestIsForcedAfterTwoSeconds) {
  addCopy(4200, std::nullopt).quitAfterTerminate = -1;
  addCopy(4300, "/Users/me/Dravel.app").quitAfterTerminate = 0.5;
  launch();
  EXPECT_EQ(singleInstanceLines(),
            (std::vector<std::string>{
                "[SingleInstance] terminating stale copy pid=4200 at ?",
                "[SingleInstance] terminating stale copy pid=4300 at /Users/me/Dravel.app"}));
  queue().advance(1.99);
  EXPECT_TRUE(processes().forcedEnds.empty());
  queue().advance(0.01);
  EXPECT_EQ(singleInstanceLines().back(), "[SingleInstance] pid=4200 survived terminate, SIGKILL");
  EXPECT_EQ(processes().forcedEnds, std::vector<int>{4200});
  queue().advance(1.0);
  EXPECT_TRUE(alerts().shown.empty());
  EXPECT_EQ(singleInstanceLines().size(), 3u);
}

TEST_F(SingleInstance, ACopyUnderADebuggerOrStoppedWinsAndNobodyIsAskedToQuit) {
  addCopy(4200, "/Applications/Dravel.app");
  addCopy(4300, "/Users/dev/DerivedData/Dravel.app").traced = true;
  launch();
  EXPECT_EQ(singleInstanceLines(),
            std::vector<std::string>{"[SingleInstance] pid=4300 is under debugger at "
                                     "/Users/dev/DerivedData/Dravel.app - yielding"});
  EXPECT_EQ(processes().exitStatus, 0);
  EXPECT_TRUE(desktop().runningApplications().terminateRequests.empty());
  EXPECT_EQ(queue().pendingDelayed(), 0u);

  processes().exitStatus.reset();
  processes().process(4300).traced = false;
  processes().process(4200).stopped = true;
  host_.delegate->terminateOtherInstances();
  EXPECT_EQ(processes().exitStatus, 0);
  EXPECT_TRUE(desktop().runningApplications().terminateRequests.empty());
}

TEST_F(SingleInstance, SandboxedProcessesSkipTheWholeProcedure) {
  desktop().processInfo().environment["APP_SANDBOX_CONTAINER_ID"] = kBundle;
  addCopy(4200, "/Applications/Dravel.app").traced = true;
  launch();
  EXPECT_TRUE(singleInstanceLines().empty());
  EXPECT_FALSE(processes().exitStatus.has_value());
}

// 4200 gets a debugger attached during the grace period; 4300 cannot be
// signalled and has no bundle location.
class SingleInstanceSurvivors : public SingleInstance {
 protected:
  void SetUp() override {
    SingleInstance::SetUp();
    addCopy(4200, "/Applications/Dravel.app").quitAfterTerminate = -1;
    addCopy(4300, std::nullopt).permissionDenied = true;
    launch();
    processes().process(4200).traced = true;
  }
};

TEST_F(SingleInstanceSurvivors, TheDebuggerAlertClosesItselfOnceTheDebuggedCopyIsGone) {
  queue().asyncAfter(4.2, [this] { processes().end(4200); });
  queue().advance(2.0);
  EXPECT_EQ(processes().forcedEnds, (std::vector<int>{4200, 4300}));
  EXPECT_TRUE(processes().isAlive(4200));  // paused by its debugger

  queue().advance(1.0);  // the final check runs the alert, which ticks until 4.5
  ASSERT_EQ(alerts().shown.size(), 1u);
  const auto& shown = alerts().shown[0];
  // The text ends with the survivors, by bundle location or else by pid.
  EXPECT_TRUE(shown.content.informativeText.ends_with(".\n/Applications/Dravel.app\npid 4300"))
      << shown.content.informativeText;
  EXPECT_EQ(shown.content.buttons, std::vector<std::string>{"OK"});
  EXPECT_EQ(shown.response, kModalResponseAbort);
  EXPECT_DOUBLE_EQ(queue().now(), 4.5);
  EXPECT_EQ(log().count("[SingleInstance] debugged copy exited, closing alert"), 1u);
  EXPECT_EQ(desktop().application().activations, 1);
  // The other survivor is still running; it never counted for the alert.
  EXPECT_TRUE(processes().isAlive(4300));
}

TEST_F(SingleInstanceSurvivors, PressingOKStopsTheTimerAndTheAlertNeverReturns) {
  alerts().scriptPress(3.7);
  queue().advance(3.0);
  ASSERT_EQ(alerts().shown.size(), 1u);
  EXPECT_EQ(alerts().shown[0].response, kAlertFirstButtonReturn);
  EXPECT_DOUBLE_EQ(queue().now(), 3.7);

  // Another modal run after the debugged copy is gone: no tick closes anything.
  processes().end(4200);
  queue().atModalTime(10.0, [this] { queue().stopModal(); });
  queue().runModal();
  EXPECT_EQ(log().count("[SingleInstance] debugged copy exited, closing alert"), 0u);

  AppDelegate::showDebuggerAlert({4200}, "again");
  EXPECT_EQ(alerts().shown.size(), 1u);
}

TEST_F(SingleInstance, SurvivorsWithoutADebuggerGetTheSurvivorAlert) {
  addCopy(4200, std::nullopt).permissionDenied = true;
  addCopy(4300, "/Applications/Dravel.app").permissionDenied = true;
  alerts().scriptPress(20);
  launch();
  queue().advance(3.0);
  ASSERT_EQ(alerts().shown.size(), 1u);
  EXPECT_EQ(alerts().shown[0].content.messageText, "Another copy of Dravel is running");
  EXPECT_TRUE(
      alerts().shown[0].content.informativeText.ends_with(":\npid 4200\n/Applications/Dravel.app"));
  EXPECT_EQ(alerts().shown[0].response, kAlertFirstButtonReturn);
  EXPECT_FALSE(processes().exitStatus.has_value());
}

}  // namespace
}  // namespace dravel::testing
