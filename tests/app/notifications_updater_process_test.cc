// End-to-end through the dravel-host binary: a notification shown and then
// clicked on the simulated desktop reaches `dravelctl watch` as "clicked";
// the updater channel in the framework's three states.
#include <gtest/gtest.h>

#include <string>

#include "tests/support/host_fixture.h"
#include "tests/support/host_process.h"

namespace dravel::testing {
namespace {

class HostChannels : public HostProcessTest {
 protected:
  void TearDown() override {
    stopProcess(watch_);
    HostProcessTest::TearDown();
  }

  void start(const std::string& scenarioJson) { startOnScenario(scenarioJson); }

  pid_t watch_ = -1;
};

TEST_F(HostChannels, AClickedNotificationReachesDravelctlWatch) {
  start("{}");
  watch_ =
      spawn({ctlBinary_, "--socket", socket_, "watch"}, dir_ + "/watch.out", dir_ + "/watch.err");
  const std::string watched = dir_ + "/watch.out";
  // Calls to the interface go to the clients connected at the time: click
  // probes until the watcher shows one.
  int probe = 0;
  ASSERT_TRUE(waitUntil([&] {
    const std::string id = "probe-" + std::to_string(++probe);
    call("dravel/notifications", "show", ValueMap{{"id", id}});
    call("sim/desktop", "clickNotification", ValueMap{{"id", id}});
    return readFile(watched).find("\"probe-") != std::string::npos;
  })) << readFile(dir_ + "/watch.err");

  EXPECT_TRUE(
      isSuccess(call("dravel/notifications", "show",
                     ValueMap{{"title", "Exported"}, {"id", "export"}, {"payload", "job-7"}}),
                Value(true)));
  const Value delivered = *state("notifications").at("delivered");
  ASSERT_EQ(delivered.asList()->size(), 1u);
  EXPECT_EQ(delivered.asList()->at(0).stringAt("identifier"), "dravel.export");

  EXPECT_TRUE(
      isSuccess(call("sim/desktop", "clickNotification", ValueMap{{"id", "export"}}), Value(true)));
  const std::string line =
      R"({"channel":"dravel/notifications","method":"clicked","arguments":{"id":"export","payload":"job-7"}})";
  EXPECT_TRUE(waitUntil([&] { return readFile(watched).find(line) != std::string::npos; }))
      << readFile(watched);
  EXPECT_TRUE(logHas("[Notifications] clicked export")) << hostLog();

  // A saved file's notification is revealed in the file viewer instead.
  call("dravel/notifications", "show", ValueMap{{"id", "saved"}, {"payload", "/tmp/shot.png"}});
  call("sim/desktop", "clickNotification", ValueMap{{"id", "saved"}});
  EXPECT_TRUE(waitUntil([&] {
    return state("revealed") == Value(ValueList{ValueList{"file:///tmp/shot.png"}});
  })) << state("revealed").debugString();
  EXPECT_EQ(readFile(watched).find("\"saved\""), std::string::npos);
}

TEST_F(HostChannels, TheUpdaterInItsThreeStates) {
  start(R"({"updater": {"bundled": false}})");
  EXPECT_TRUE(logHas("[Sparkle] framework not bundled (App Store build) - in-app update off"))
      << hostLog();
  EXPECT_TRUE(isSuccess(call("brindle/sparkle_updater", "isAvailable"), Value(false)));
  EXPECT_TRUE(isError(call("brindle/sparkle_updater", "checkForUpdates"), "unavailable",
                      "Sparkle updater is not available"));
  EXPECT_TRUE(isSuccess(call("brindle/sparkle_updater", "setBetaChannel", Value(true)), Value()));

  start(R"({"updater": {"startError": "No feed configured."}})");
  EXPECT_TRUE(logHas("[Sparkle] updater.start failed: No feed configured. - in-app update off"))
      << hostLog();
  EXPECT_TRUE(isSuccess(call("brindle/sparkle_updater", "isAvailable"), Value(false)));

  start(R"({"updater": {"feedURL": "https://updates.example.com/appcast.xml"}})");
  EXPECT_TRUE(logHas("[Sparkle] updater started, feed=https://updates.example.com/appcast.xml"))
      << hostLog();
  EXPECT_TRUE(logHas("[Sparkle] channel registered, available=1")) << hostLog();
  EXPECT_TRUE(isSuccess(call("brindle/sparkle_updater", "isAvailable"), Value(true)));
  EXPECT_TRUE(isSuccess(call("brindle/sparkle_updater", "setBetaChannel", Value(true)), Value()));
  EXPECT_TRUE(isSuccess(call("brindle/sparkle_updater", "checkForUpdates"), Value()));
  const Value updater = state("updater");
  EXPECT_EQ(*updater.at("checks"), Value(ValueList{ValueList{"beta"}}));
  EXPECT_EQ(*updater.at("allowedChannels"), Value(ValueList{"beta"}));
}

}  // namespace
}  // namespace dravel::testing
