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
  void expectOff() {
    EXPECT_TRUE(isSuccess(updater("isAvailable"), Value(false)));
    EXPECT_TRUE(isError(updater("checkForUpdates"), "unavailable", kUnavailable));
    EXPECT_TRUE(framework().checks.empty());
    EXPECT_EQ(desktop().application().activations, 0);
  }
};

// Without the framework, as on Linux, the X desktop test sees isAvailable false.
TEST_F(Updater, AfterAFailedStartEveryMethodAnswersNegatively) {
  framework().startError = "The appcast address is malformed.";
  launch();
  expectOff();
  EXPECT_TRUE(isSuccess(updater("setBetaChannel", Value(true)), Value()));
}

TEST_F(Updater, AStartedUpdaterChecksOnRequestAndFollowsTheBetaFlag) {
  framework().feedURL = "https://updates.example.com/dravel/appcast.xml";
  launch();
  EXPECT_TRUE(isSuccess(updater("isAvailable"), Value(true)));
  // The application comes to the front before the framework checks.
  std::vector<int> activationsAtCheck;
  framework().onCheck = [&] { activationsAtCheck.push_back(desktop().application().activations); };
  EXPECT_TRUE(isSuccess(updater("checkForUpdates"), Value()));
  EXPECT_EQ(activationsAtCheck, std::vector<int>{1});
  EXPECT_TRUE(framework().checks.at(0).empty());

  EXPECT_TRUE(isSuccess(updater("setBetaChannel", Value(true)), Value()));
  updater("checkForUpdates");
  EXPECT_EQ(framework().checks.back(), (std::set<std::string>{"beta"}));

  updater("setBetaChannel", Value(false));
  EXPECT_EQ(framework().allowedChannels(), std::set<std::string>{});
}

TEST_F(Updater, WithoutAFeedAvailabilityIsAskedEachTime) {
  framework().canCheck = false;
  launch();
  EXPECT_TRUE(isError(updater("checkForUpdates"), "unavailable", kUnavailable));
  // The beta flag still reaches the started updater's delegate.
  updater("setBetaChannel", Value(true));
  EXPECT_EQ(framework().allowedChannels(), (std::set<std::string>{"beta"}));
  framework().canCheck = true;
  EXPECT_TRUE(isSuccess(updater("isAvailable"), Value(true)));
}

}  // namespace
}  // namespace dravel::testing
