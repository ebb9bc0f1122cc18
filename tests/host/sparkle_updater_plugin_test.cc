#include "host/sparkle_updater_plugin.h"

#include "host/main_flutter_window.h"
#include "tests/support/host_fixture.h"

namespace dravel::testing {
namespace {

class Updater : public HostTest {
 protected:
  sim::SimUpdateFramework& framework() { return desktop().updateFramework(); }
  MethodResponse updater(const std::string& method, Value arguments = Value()) {
    auto reply = call(kUpdaterChannel, method, std::move(arguments));
    if (!reply) {
      ADD_FAILURE() << method << " got no reply";
      return FlutterError::errorWithCode("test_no_reply");
    }
    return *reply;
  }
  std::vector<std::string> sparkleLines() {
    std::vector<std::string> out;
    for (auto& line : log().lines())
      if (line.rfind("[Sparkle]", 0) == 0) out.push_back(line);
    return out;
  }
};

TEST_F(Updater, WithoutTheFrameworkEveryMethodAnswersNegatively) {
  framework().bundled = false;
  launch();
  EXPECT_EQ(sparkleLines(),
            (std::vector<std::string>{
                "[Sparkle] framework not bundled (App Store build) - in-app update off",
                "[Sparkle] channel registered, available=0"}));
  EXPECT_EQ(framework().classLookups, std::vector<std::string>{"SPUStandardUpdaterController"});
  EXPECT_EQ(framework().controllersMade, 0);
  EXPECT_TRUE(isSuccess(updater("isAvailable"), Value(false)));
  EXPECT_TRUE(
      isError(updater("checkForUpdates"), "unavailable", "Sparkle updater is not available"));
  EXPECT_TRUE(isSuccess(updater("setBetaChannel", Value(true)), Value()));
  EXPECT_EQ(host_.window->sparkleUpdater().channelDelegate, nullptr);
  EXPECT_EQ(desktop().application().activations, 0);
}

TEST_F(Updater, AFailedStartLeavesUpdatesOff) {
  framework().startError = "The appcast address is malformed.";
  launch();
  EXPECT_EQ(
      sparkleLines(),
      (std::vector<std::string>{
          "[Sparkle] updater.start failed: The appcast address is malformed. - in-app update off",
          "[Sparkle] channel registered, available=0"}));
  // The controller was made without starting its updater, then dropped.
  EXPECT_EQ(framework().controllersMade, 1);
  EXPECT_EQ(framework().lastStartingUpdater, false);
  EXPECT_FALSE(framework().started());
  EXPECT_FALSE(framework().allowedChannels().has_value());
  EXPECT_TRUE(isSuccess(updater("isAvailable"), Value(false)));
  EXPECT_TRUE(
      isError(updater("checkForUpdates"), "unavailable", "Sparkle updater is not available"));
  EXPECT_TRUE(framework().checks.empty());
}

TEST_F(Updater, AStartedUpdaterChecksOnRequestAndFollowsTheBetaFlag) {
  framework().feedURL = "https://updates.example.com/dravel/appcast.xml";
  launch();
  EXPECT_EQ(sparkleLines(),
            (std::vector<std::string>{
                "[Sparkle] updater started, feed=https://updates.example.com/dravel/appcast.xml",
                "[Sparkle] channel registered, available=1"}));
  EXPECT_TRUE(isSuccess(updater("isAvailable"), Value(true)));

  EXPECT_TRUE(isSuccess(updater("checkForUpdates"), Value()));
  EXPECT_EQ(desktop().application().activations, 1);
  ASSERT_EQ(framework().checks.size(), 1u);
  EXPECT_TRUE(framework().checks[0].empty());

  EXPECT_TRUE(isSuccess(updater("setBetaChannel", Value(true)), Value()));
  EXPECT_EQ(framework().allowedChannels(), (std::set<std::string>{"beta"}));
  updater("checkForUpdates");
  EXPECT_EQ(framework().checks.back(), (std::set<std::string>{"beta"}));

  // Only the arguments themselves count as the flag.
  updater("setBetaChannel", ValueMap{{"enabled", true}});
  EXPECT_EQ(framework().allowedChannels(), std::set<std::string>{});
  updater("setBetaChannel", Value(true));
  updater("setBetaChannel");
  EXPECT_EQ(framework().allowedChannels(), std::set<std::string>{});
  updater("setBetaChannel", Value(true));
  updater("setBetaChannel", Value(false));
  EXPECT_EQ(framework().allowedChannels(), std::set<std::string>{});

  auto reply = call(kUpdaterChannel, "checkforupdates");
  ASSERT_TRUE(reply);
  EXPECT_TRUE(std::holds_alternative<FlutterMethodNotImplementedT>(*reply));
}

TEST_F(Updater, ACheckBringsTheApplicationToTheFrontBeforeTheFrameworkChecks) {
  launch();
  std::vector<int> activationsAtCheck;
  framework().onCheck = [&] { activationsAtCheck.push_back(desktop().application().activations); };
  EXPECT_TRUE(isSuccess(updater("checkForUpdates"), Value()));
  EXPECT_TRUE(isSuccess(updater("checkForUpdates"), Value()));
  EXPECT_EQ(activationsAtCheck, (std::vector<int>{1, 2}));
  EXPECT_EQ(desktop().application().activations, 2);
}

TEST_F(Updater, RegisteringASecondTimeChangesNothing) {
  launch();
  SparkleUpdaterPlugin& plugin = host_.window->sparkleUpdater();
  const std::shared_ptr<FlutterMethodChannel> first = plugin.channel;
  ASSERT_TRUE(first);
  auto [otherHost, otherUi] = InProcessMessenger::makePair();
  plugin.registerWith(*env_->hostEnd);
  plugin.registerWith(*otherHost);
  EXPECT_EQ(plugin.channel, first);
  EXPECT_FALSE(otherHost->hasHandler(kUpdaterChannel));
  EXPECT_EQ(sparkleLines().size(), 2u) << "one start line and one channel line";
  EXPECT_EQ(log().count("[Sparkle] channel registered, available=1"), 1u);
  // The first registration still answers, once.
  EXPECT_TRUE(isSuccess(updater("checkForUpdates"), Value()));
  EXPECT_EQ(framework().checks.size(), 1u);
}

TEST_F(Updater, WithoutAFeedTheLogSaysNilAndAvailabilityIsAskedEachTime) {
  framework().canCheck = false;
  launch();
  EXPECT_EQ(sparkleLines(),
            (std::vector<std::string>{"[Sparkle] updater started, feed=nil",
                                      "[Sparkle] channel registered, available=0"}));
  EXPECT_TRUE(
      isError(updater("checkForUpdates"), "unavailable", "Sparkle updater is not available"));
  // The beta flag still reaches the started updater's delegate.
  updater("setBetaChannel", Value(true));
  EXPECT_EQ(framework().allowedChannels(), (std::set<std::string>{"beta"}));
  framework().canCheck = true;
  EXPECT_TRUE(isSuccess(updater("isAvailable"), Value(true)));
  EXPECT_TRUE(isSuccess(updater("checkForUpdates"), Value()));
}

}  // namespace
}  // namespace dravel::testing
