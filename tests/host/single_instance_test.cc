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

TEST_F(SingleInstance, AloneNothingHappens) {
  desktop().runningApplications().apps.push_back(
      {4200, std::string("com.example.Other"), {}, "Other"});
  launch();
  EXPECT_TRUE(singleInstanceLines().empty());
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
  EXPECT_EQ(desktop().runningApplications().terminateRequests.size(), 2u);
  queue().advance(1.99);
  EXPECT_TRUE(processes().forcedEnds.empty());
  queue().advance(0.01);
  EXPECT_EQ(processes().forcedEnds, std::vector<int>{4200});
  queue().advance(1.0);
  EXPECT_TRUE(alerts().shown.empty());
}

TEST_F(SingleInstance, ACopyUnderADebuggerWinsAndNobodyIsAskedToQuit) {
  addCopy(4200, "/Applications/Dravel.app");
  addCopy(4300, "/Users/dev/DerivedData/Dravel.app").traced = true;
  launch();
  EXPECT_EQ(processes().exitStatus, 0);
  EXPECT_TRUE(desktop().runningApplications().terminateRequests.empty());
  EXPECT_EQ(queue().pendingDelayed(), 0u);
}

TEST_F(SingleInstance, SandboxedProcessesSkipTheWholeProcedure) {
  desktop().processInfo().environment["APP_SANDBOX_CONTAINER_ID"] = kBundle;
  addCopy(4200, "/Applications/Dravel.app").traced = true;
  launch();
  EXPECT_TRUE(singleInstanceLines().empty());
  EXPECT_FALSE(processes().exitStatus.has_value());
}

TEST_F(SingleInstance, SurvivorsWithoutADebuggerGetTheSurvivorAlert) {
  addCopy(4200, std::nullopt).permissionDenied = true;
  addCopy(4300, "/Applications/Dravel.app").permissionDenied = true;
  alerts().scriptPress(20);
  launch();
  queue().advance(3.0);
  ASSERT_EQ(alerts().shown.size(), 1u);
  EXPECT_TRUE(
      alerts().shown[0].content.informativeText.ends_with(":\npid 4200\n/Applications/Dravel.app"));
  EXPECT_EQ(alerts().shown[0].response, kAlertFirstButtonReturn);
  EXPECT_FALSE(processes().exitStatus.has_value());
}

}  // namespace
}  // namespace dravel::testing
