#include "host/sandbox.h"
#include "platform/sim/sim_desktop.h"
#include "tests/support/host_fixture.h"

namespace dravel::testing {
namespace {

class AutostartTest : public LaunchedHostTest {
 protected:
  MethodResponse autostart(const std::string& method, Value args = Value()) {
    return ask("dravel/autostart", method, std::move(args));
  }
  sim::SimLoginItem& item() { return desktop().loginItem(); }
};

// Enabling and disabling are checked against the autostart folder on the X
// desktop; here, that only a boolean true enables, and an approval pending.
TEST_F(AutostartTest, OnlyABooleanTrueEnablesAndAnItemAwaitingApprovalIsNotEnabled) {
  item().currentStatus = kLoginItemEnabled;
  EXPECT_TRUE(isSuccess(autostart("setEnabled", ValueMap{{"enabled", "true"}}), Value()));
  EXPECT_EQ(item().currentStatus, kLoginItemNotRegistered);
  EXPECT_EQ(item().registers, 0);
  item().needsApproval = true;
  EXPECT_TRUE(isSuccess(autostart("setEnabled", ValueMap{{"enabled", true}}), Value()));
  EXPECT_TRUE(isSuccess(autostart("isEnabled"), Value(false)));
}

TEST_F(AutostartTest, ARefusalIsReportedWithThePlatformsText) {
  item().registerRefusal = "Operation not permitted";
  EXPECT_TRUE(isError(autostart("setEnabled", ValueMap{{"enabled", true}}), "autostart_failed",
                      "Operation not permitted"));
  EXPECT_EQ(item().currentStatus, kLoginItemNotRegistered);

  item().currentStatus = kLoginItemEnabled;
  item().unregisterRefusal = "Can't unregister";
  EXPECT_TRUE(isError(autostart("setEnabled"), "autostart_failed", "Can't unregister"));
  EXPECT_EQ(item().currentStatus, kLoginItemEnabled);
}

class SandboxTest : public HostTest {};

TEST_F(SandboxTest, AnyValueOfTheContainerVariableMeansSandboxedEvenAnEmptyOne) {
  EXPECT_FALSE(Sandbox::active());
  Sandbox::resetForTesting();
  desktop().processInfo().environment["APP_SANDBOX_CONTAINER_ID"] = "";
  EXPECT_TRUE(Sandbox::active());
  // Read once: a later change of the environment is not seen.
  desktop().processInfo().environment.clear();
  EXPECT_TRUE(Sandbox::active());
}

}  // namespace
}  // namespace dravel::testing
