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

TEST_F(AutostartTest, IsEnabledOnlyForTheEnabledStatus) {
  for (int status : {int{kLoginItemNotRegistered}, int{kLoginItemRequiresApproval},
                     int{kLoginItemNotFound}, 7}) {
    item().currentStatus = status;
    EXPECT_TRUE(isSuccess(autostart("isEnabled"), Value(false))) << status;
  }
  item().currentStatus = kLoginItemEnabled;
  EXPECT_TRUE(isSuccess(autostart("isEnabled", ValueMap{{"enabled", false}}), Value(true)));
  // An item registered but awaiting approval is not enabled.
  item().currentStatus = kLoginItemNotRegistered;
  item().needsApproval = true;
  EXPECT_TRUE(isSuccess(autostart("setEnabled", ValueMap{{"enabled", true}}), Value()));
  EXPECT_TRUE(isSuccess(autostart("isEnabled"), Value(false)));
}

TEST_F(AutostartTest, SetEnabledRegistersOnlyForABooleanTrue) {
  EXPECT_TRUE(isSuccess(autostart("setEnabled", ValueMap{{"enabled", true}}), Value()));
  EXPECT_EQ(item().registers, 1);
  EXPECT_EQ(item().currentStatus, kLoginItemEnabled);

  for (const Value& args :
       {Value(), Value(true), Value(ValueList{true}), Value(ValueMap{}),
        Value(ValueMap{{"enabled", "true"}}), Value(ValueMap{{"enabled", 1}}),
        Value(ValueMap{{"enabled", false}}), Value(ValueMap{{"Enabled", true}})}) {
    item().currentStatus = kLoginItemEnabled;
    EXPECT_TRUE(isSuccess(autostart("setEnabled", args), Value())) << args.debugString();
    EXPECT_EQ(item().currentStatus, kLoginItemNotRegistered) << args.debugString();
  }
  EXPECT_EQ(item().registers, 1);
  EXPECT_EQ(item().unregisters, 8);
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

TEST_F(AutostartTest, OtherNamesAreNotImplemented) {
  for (const char* name : {"IsEnabled", "setenabled", "isEnabled ", "toggle", ""}) {
    EXPECT_TRUE(std::holds_alternative<FlutterMethodNotImplementedT>(autostart(name))) << name;
  }
  EXPECT_EQ(item().registers + item().unregisters, 0);
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
