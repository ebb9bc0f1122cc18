#include "host/sparkle_updater_plugin.h"

#include "host/main_flutter_window.h"
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

TEST_F(Updater, WithoutTheFrameworkEveryMethodAnswersNegatively) {
  framework().bundled = false;
  launch();
  EXPECT_EQ(logLines("[Sparkle]"),
            (std::vector<std::string>{
                "[Sparkle] framework not bundled (App Store build) - in-app update off",
                "[Sparkle] channel registered, available=0"}));
  EXPECT_EQ(framework().controllersMade, 0);
  expectOff();
  EXPECT_TRUE(isSuccess(updater("setBetaChannel", Value(true)), Value()));
}

TEST_F(Updater, AFailedStartLeavesUpdatesOff) {
  framework().startError = "The appcast address is malformed.";
  launch();
  EXPECT_EQ(
      logLines("[Sparkle]"),
      (std::vector<std::string>{
          "[Sparkle] updater.start failed: The appcast address is malformed. - in-app update off",
          "[Sparkle] channel registered, available=0"}));
  expectOff();
}

TEST_F(Updater, AStartedUpdaterChecksOnRequestAndFollowsTheBetaFlag) {
  framework().feedURL = "https://updates.example.com/dravel/appcast.xml";
  launch();
  EXPECT_EQ(logLines("[Sparkle]"),
            (std::vector<std::string>{
                "[Sparkle] updater started, feed=https://updates.example.com/dravel/appcast.xml",
                "[Sparkle] channel registered, available=1"}));
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

  // Only the arguments themselves count as the flag.
  for (const Value& off : {Value(ValueMap{{"enabled", true}}), Value(), Value(false)}) {
    updater("setBetaChannel", Value(true));
    updater("setBetaChannel", off);
    EXPECT_EQ(framework().allowedChannels(), std::set<std::string>{}) << off.debugString();
  }
  auto reply = call(kUpdaterChannel, "checkforupdates");
  ASSERT_TRUE(reply);
  EXPECT_TRUE(std::holds_alternative<FlutterMethodNotImplementedT>(*reply));
}

TEST_F(Updater, RegisteringASecondTimeChangesNothing) {
  launch();
  SparkleUpdaterPlugin& plugin = host_.window->sparkleUpdater();
  const std::shared_ptr<FlutterMethodChannel> first = plugin.channel;
  auto [otherHost, otherUi] = InProcessMessenger::makePair();
  plugin.registerWith(*env_->hostEnd);
  plugin.registerWith(*otherHost);
  EXPECT_EQ(plugin.channel, first);
  EXPECT_FALSE(otherHost->hasHandler(kUpdaterChannel));
  EXPECT_EQ(logLines("[Sparkle]").size(), 2u) << "one start line and one channel line";
  // The first registration still answers, once.
  EXPECT_TRUE(isSuccess(updater("checkForUpdates"), Value()));
  EXPECT_EQ(framework().checks.size(), 1u);
}

TEST_F(Updater, WithoutAFeedTheLogSaysNilAndAvailabilityIsAskedEachTime) {
  framework().canCheck = false;
  launch();
  EXPECT_EQ(logLines("[Sparkle]"),
            (std::vector<std::string>{"[Sparkle] updater started, feed=nil",
                                      "[Sparkle] channel registered, available=0"}));
  EXPECT_TRUE(isError(updater("checkForUpdates"), "unavailable", kUnavailable));
  // The beta flag still reaches the started updater's delegate.
  updater("setBetaChannel", Value(true));
  EXPECT_EQ(framework().allowedChannels(), (std::set<std::string>{"beta"}));
  framework().canCheck = true;
  EXPECT_TRUE(isSuccess(updater("isAvailable"), Value(true)));
}

}  // namespace
}  // namespace dravel::testing
