#include "host/notifications_plugin.h"

#include <thread>

#include "host/app_delegate.h"
#include "host/main_flutter_window.h"
#include "tests/platform/sim/sim_sections.h"
#include "tests/support/host_fixture.h"

namespace dravel::testing {
namespace {

// A request's fields, comparable and printable as one.
std::tuple<std::string, std::string, std::string, bool, Value> fields(
    const NotificationRequest& r) {
  return {r.identifier, r.title, r.body, r.sound, Value(r.userInfo)};
}

class Notifications : public LaunchedHostTest {
 protected:
  void SetUp() override {
    LaunchedHostTest::SetUp();
    // The interface's side of the channel hears "clicked".
    ui_ = std::make_unique<FlutterMethodChannel>(kNotificationsChannel, &uiEnd());
    ui_->setMethodCallHandler([this](const FlutterMethodCall& call, FlutterResult result) {
      received_.push_back(call);
      result(nullptr);
    });
  }

  MethodResponse show(Value arguments = Value()) {
    return ask(kNotificationsChannel, "show", std::move(arguments));
  }
  sim::SimUserNotificationCenter& center() { return desktop().userNotificationCenter(); }
  void configure(auto change) {
    auto s = center().settings();
    change(s);
    center().configure(s);
  }

  std::unique_ptr<FlutterMethodChannel> ui_;
  std::vector<FlutterMethodCall> received_;
};

TEST_F(Notifications, ShowPassesItsArgumentsOnOrTheirDefaults) {
  EXPECT_TRUE(isSuccess(show(ValueMap{{"title", "Saved"},
                                      {"body", "shot.png"},
                                      {"id", "saved"},
                                      {"payload", "/tmp/shot.png"},
                                      {"sound", false}}),
                        Value(true)));
  EXPECT_TRUE(isSuccess(show(), Value(true)));
  auto delivered = center().delivered();
  ASSERT_EQ(delivered.size(), 2u);
  EXPECT_EQ(fields(delivered[0].request),
            fields({"dravel.saved", "Saved", "shot.png", false,
                    ValueMap{{"id", "saved"}, {"payload", "/tmp/shot.png"}}}));
  EXPECT_EQ(fields(delivered[1].request),
            fields({"dravel.update", "", "", true, ValueMap{{"id", "update"}}}));
  // Permission is asked with alert and sound on every show.
  EXPECT_EQ(center().authorizationRequests(), (std::vector<int>{6, 6}));
}

TEST_F(Notifications, FailuresAnswerFalseNeverAnError) {
  configure([](auto& s) { s.granted = false; });
  EXPECT_TRUE(isSuccess(show(), Value(false)));
  EXPECT_EQ(center().addRequests(), 0);
  configure([](auto& s) {
    s.granted = true;
    s.refuseRequests = "Notifications are off for this application.";
  });
  EXPECT_TRUE(isSuccess(show(ValueMap{{"id", "x"}}), Value(false)));
  EXPECT_TRUE(center().delivered().empty());
}

TEST_F(Notifications, RepliesComeOnTheMainThread) {
  const auto mainThread = std::this_thread::get_id();
  std::optional<std::thread::id> replyThread;
  FlutterMethodChannel ui(kNotificationsChannel, &uiEnd());
  ui.invokeMethod("show", Value(),
                  [&](MethodResponse) { replyThread = std::this_thread::get_id(); });
  ASSERT_TRUE(queue().runUntil([&] { return replyThread.has_value(); }));
  EXPECT_EQ(*replyThread, mainThread);
}

// That a click's id and payload reach the interface is checked end to end
// on the X desktop.
TEST_F(Notifications, AClickIsAnsweredOnceAndLeavesTheScreen) {
  EXPECT_TRUE(isSuccess(show(ValueMap{{"id", "export"}, {"payload", "job-7"}}), Value(true)));
  EXPECT_TRUE(center().click("dravel.export"));
  ASSERT_EQ(received_.size(), 1u);
  EXPECT_EQ(center().completedResponses, 1);
  EXPECT_TRUE(center().delivered().empty());
  EXPECT_FALSE(center().click("dravel.export"));
  // The simulated desktop's click action finds it by the interface's id.
  show(ValueMap{{"id", "export"}});
  EXPECT_EQ(runAction("clickNotification", ValueMap{{"id", "export"}}, desktop()),
            MethodResponse(Value(true)));
  EXPECT_EQ(received_.size(), 2u);
}

TEST_F(Notifications, ASavedNotificationWithAPayloadRevealsTheFileInstead) {
  show(ValueMap{{"id", "saved"}, {"payload", "/tmp/Dravel shots/shot.png"}});
  EXPECT_TRUE(center().click("dravel.saved"));
  EXPECT_EQ(desktop().workspace().revealed,
            std::vector<std::vector<std::string>>{{"file:///tmp/Dravel%20shots/shot.png"}});
  EXPECT_TRUE(received_.empty());
  EXPECT_EQ(center().completedResponses, 1);
  // Without a payload it is an ordinary click.
  show(ValueMap{{"id", "saved"}});
  center().click("dravel.saved");
  ASSERT_EQ(received_.size(), 1u);
  EXPECT_EQ(desktop().workspace().revealed.size(), 1u);
}

using NotificationsBeforeRegistration = HostTest;

TEST_F(NotificationsBeforeRegistration, AnAnswerIsCompletedButNotSent) {
  bool completed = false;
  NotificationResponse response;
  response.actionIdentifier = kNotificationDefaultActionIdentifier;
  response.request.userInfo = ValueMap{{"id", "export"}};
  NotificationsPlugin::shared().didReceiveResponse(response, [&] { completed = true; });
  EXPECT_TRUE(completed);
  EXPECT_EQ(uiEnd().unhandledCount(), 0u);
}

}  // namespace
}  // namespace dravel::testing
