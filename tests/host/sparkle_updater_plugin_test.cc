#include "host/sparkle_updater_plugin.h"

#include "tests/support/host_fixture.h"

namespace dravel::testing {
namespace {

constexpr const char* kUnavailable = "Sparkle updater is not available";

class Updater : public HostTest {
 protected:
  sim::SimUpdateFramework& framework() { return desktop().updateFramework(); }
  MethodResponse updater(const std::string& method, Value arguments = Value()) {
    return ask(kUpdaterChannel, method, std::move(arguments));
  }
};

// Without the framework, as on Linux, host_x11_test sees isAvailable false.
TEST_F(Updater, AfterAFailedStartEveryMethodAnswersNegatively) {
  framework().startError = "The appcast address is malformed.";
  launch();
  EXPECT_TRUE(isSuccess(updater("isAvailable"), Value(false)));
  EXPECT_TRUE(isError(updater("checkForUpdates"), "unavailable", kUnavailable));
  EXPECT_TRUE(framework().checks.empty());
  EXPECT_EQ(desktop().application().activations, 0);
  EXPECT_TRUE(isSuccess(updater("setBetaChannel", Value(true)), Value()));
}

}  // namespace
}  // namespace dravel::testing
