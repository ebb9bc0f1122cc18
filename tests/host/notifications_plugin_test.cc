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

TEST_F(Notifications, ArgumentsOfTheWrongTypeOrNoneTakeTheirDefaults) {
  EXPECT_TRUE(isSuccess(show(ValueMap{{"title", "Saved"},
                                      {"body", "shot.png"},
                                      {"id", "saved"},
                                      {"payload", "/tmp/shot.png"},
                                      {"sound", false}}),
                        Value(true)));
  EXPECT_TRUE(isSuccess(show(ValueMap{{"title", 3}, {"id", true}, {"payload", 7}, {"sound", "no"}}),
                        Value(true)));
  auto delivered = center().delivered();
  ASSERT_EQ(delivered.size(), 2u);
  EXPECT_EQ(fields(delivered[0].request),
            fields({"dravel.saved", "Saved", "shot.png", false,
                    ValueMap{{"id", "saved"}, {"payload", "/tmp/shot.png"}}}));
  // Arguments that are not a map are no arguments; permission is asked with alert and sound
  // on every show.
  EXPECT_TRUE(isSuccess(show(Value("not a map")), Value(true)));
  ASSERT_EQ(center().delivered().size(), 2u);
  for (const auto& d : {delivered[1], center().delivered()[1]})
    EXPECT_EQ(fields(d.request),
              fields({"dravel.update", "", "", true, ValueMap{{"id", "update"}}}));
  EXPECT_EQ(center().authorizationRequests(), (std::vector<int>{6, 6, 6}));
}

TEST_F(Notifications, FailuresAnswerFalseWithTheirLogLinesNeverAnError) {
  configure([](auto& s) { s.granted = false; });
  EXPECT_TRUE(isSuccess(show(), Value(false)));
  EXPECT_EQ(log().count("[Notifications] not authorized - quiet mode"), 1u);
  EXPECT_EQ(center().addRequests(), 0);

  // An error with the answer is logged; the granted flag alone decides.
  configure([](auto& s) {
    s.granted = true;
    s.authorizationError = "The permission store is busy.";
  });
  EXPECT_TRUE(isSuccess(show(), Value(true)));
  EXPECT_EQ(log().count("[Notifications] authorization failed: The permission store is busy."), 1u);

  configure([](auto& s) {
    s.authorizationError.reset();
    s.refuseRequests = "Notifications are off for this application.";
  });
  EXPECT_TRUE(isSuccess(show(ValueMap{{"id", "x"}}), Value(false)));
  EXPECT_EQ(log().count("[Notifications] add failed: Notifications are off for this application."),
            1u);
  EXPECT_EQ(center().delivered().size(), 1u);
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

TEST_F(Notifications, OtherMethodsAreNotImplementedAndRegistrationHappensOnce) {
  auto reply = call(kNotificationsChannel, "clicked");
  ASSERT_TRUE(reply);
  EXPECT_TRUE(std::holds_alternative<FlutterMethodNotImplementedT>(*reply));
  auto before = NotificationsPlugin::shared().channel;
  NotificationsPlugin::shared().registerWith(*env_->hostEnd);
  EXPECT_EQ(NotificationsPlugin::shared().channel, before);
}

TEST_F(Notifications, FrontmostApplicationStillShowsBannerListAndSound) {
  EXPECT_EQ(center().delegate(), &NotificationsPlugin::shared());
  configure([](auto& s) { s.applicationActive = true; });
  EXPECT_TRUE(isSuccess(show(), Value(true)));
  queue().runUntil([&] { return center().delivered().at(0).presentation.has_value(); });
  EXPECT_EQ(center().delivered()[0].presentation, 26);
}

TEST_F(Notifications, AClickIsPassedToTheInterfaceWithIdAndPayload) {
  EXPECT_TRUE(isSuccess(show(ValueMap{{"id", "export"}, {"payload", "job-7"}}), Value(true)));
  EXPECT_TRUE(center().click("dravel.export"));
  EXPECT_EQ(log().count("[Notifications] clicked export"), 1u);
  ASSERT_EQ(received_.size(), 1u);
  EXPECT_EQ(received_[0].method, "clicked");
  EXPECT_EQ(received_[0].arguments, Value(ValueMap{{"id", "export"}, {"payload", "job-7"}}));
  EXPECT_EQ(center().completedResponses, 1);
  // The answered notification has left the screen.
  EXPECT_TRUE(center().delivered().empty());
  EXPECT_FALSE(center().click("dravel.export"));

  // The simulated desktop's click action, by the interface's id or by the
  // identifier; a second click finds nothing to answer.
  show(ValueMap{{"id", "export"}});
  EXPECT_EQ(runAction("clickNotification", ValueMap{{"id", "export"}}, desktop()),
            MethodResponse(Value(true)));
  EXPECT_EQ(runAction("clickNotification", ValueMap{{"identifier", "dravel.export"}}, desktop()),
            MethodResponse(Value(false)));
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
  EXPECT_EQ(received_[0].arguments, Value(ValueMap{{"id", "saved"}}));
  EXPECT_EQ(desktop().workspace().revealed.size(), 1u);
}

TEST_F(Notifications, UserInfoWithoutAStringIdFallsBackToUpdate) {
  NotificationResponse response;
  response.actionIdentifier = kNotificationDefaultActionIdentifier;
  response.request.identifier = "elsewhere";
  response.request.userInfo = ValueMap{{"id", 12}, {"payload", ValueList{}}};
  center().respond(response);
  EXPECT_EQ(log().count("[Notifications] clicked update"), 1u);
  ASSERT_EQ(received_.size(), 1u);
  EXPECT_EQ(received_[0].arguments, Value(ValueMap{{"id", "update"}}));
}

TEST_F(Notifications, AnswersOtherThanAClickOnlyRecordTheirTime) {
  show();
  queue().advance(2);
  EXPECT_TRUE(center().click("dravel.update", kNotificationDismissActionIdentifier));
  EXPECT_EQ(NotificationsPlugin::shared().lastResponseAt, queue().now());
  EXPECT_TRUE(received_.empty());
  EXPECT_EQ(log().count("[Notifications] clicked update"), 0u);
  EXPECT_EQ(center().completedResponses, 1);
}

// A click on a notification often makes the system send a reopen event too;
// the delegate must not show the window for it.
TEST_F(Notifications, AReopenRightAfterAClickShowsNoWindow) {
  desktop().application().policy = kActivationPolicyAccessory;
  show(ValueMap{{"id", "export"}});
  queue().advance(10);
  center().click("dravel.export");
  queue().advance(1.1);
  host_.delegate->applicationShouldHandleReopen(false);
  queue().advance(0.3);  // 1.4 s after the click
  EXPECT_FALSE(window().isVisible());
  EXPECT_EQ(log().count("[Reopen] from notification click - no window"), 1u);

  queue().advance(0.1);
  host_.delegate->applicationShouldHandleReopen(false);
  queue().advance(0.3);  // 1.8 s after the click
  EXPECT_TRUE(window().isVisible());
  EXPECT_EQ(desktop().application().policy, kActivationPolicyRegular);
}

using NotificationsBeforeRegistration = HostTest;

TEST_F(NotificationsBeforeRegistration, AnAnswerIsLoggedAndCompletedButNotSent) {
  bool completed = false;
  NotificationResponse response;
  response.actionIdentifier = kNotificationDefaultActionIdentifier;
  response.request.userInfo = ValueMap{{"id", "export"}};
  NotificationsPlugin::shared().didReceiveResponse(response, [&] { completed = true; });
  EXPECT_TRUE(completed);
  EXPECT_EQ(log().count("[Notifications] clicked export"), 1u);
  EXPECT_EQ(uiEnd().unhandledCount(), 0u);
}

TEST_F(NotificationsBeforeRegistration, TheDelegateIsSetEvenWhenSandboxed) {
  desktop().processInfo().environment["APP_SANDBOX_CONTAINER_ID"] = "app.dravel.Dravel";
  launch();
  EXPECT_EQ(desktop().userNotificationCenter().delegate(), &NotificationsPlugin::shared());
}

}  // namespace
}  // namespace dravel::testing
