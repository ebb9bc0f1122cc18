#include "host/notifications_plugin.h"

#include <thread>

#include "host/app_delegate.h"
#include "host/main_flutter_window.h"
#include "platform/sim/scenario_registry.h"
#include "tests/support/host_fixture.h"

namespace dravel::testing {
namespace {

class Notifications : public HostTest {
 protected:
  void SetUp() override {
    HostTest::SetUp();
    launch();
    // The interface's side of the channel hears "clicked".
    ui_ = std::make_unique<FlutterMethodChannel>(kNotificationsChannel, &uiEnd());
    ui_->setMethodCallHandler([this](const FlutterMethodCall& call, FlutterResult result) {
      received_.push_back(call);
      result(nullptr);
    });
  }

  MethodResponse show(Value arguments = Value()) {
    auto reply = call(kNotificationsChannel, "show", std::move(arguments));
    if (!reply) {
      ADD_FAILURE() << "show got no reply";
      return FlutterError::errorWithCode("test_no_reply");
    }
    return *reply;
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

TEST_F(Notifications, ShowWithoutArgumentsUsesEveryDefault) {
  EXPECT_TRUE(isSuccess(show(), Value(true)));
  ASSERT_EQ(center().delivered().size(), 1u);
  const NotificationRequest r = center().delivered()[0].request;
  EXPECT_EQ(r.identifier, "dravel.update");
  EXPECT_EQ(r.title, "");
  EXPECT_EQ(r.body, "");
  EXPECT_TRUE(r.sound);
  EXPECT_EQ(Value(r.userInfo), Value(ValueMap{{"id", "update"}}));
  // Permission is asked with alert and sound on every show.
  EXPECT_TRUE(isSuccess(show(Value("not a map")), Value(true)));
  EXPECT_EQ(center().authorizationRequests(), (std::vector<int>{6, 6}));
  EXPECT_EQ(center().delivered().size(), 1u);
}

TEST_F(Notifications, ArgumentsOfTheWrongTypeTakeTheirDefaults) {
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
  EXPECT_EQ(delivered[0].request.identifier, "dravel.saved");
  EXPECT_EQ(delivered[0].request.title, "Saved");
  EXPECT_EQ(delivered[0].request.body, "shot.png");
  EXPECT_FALSE(delivered[0].request.sound);
  EXPECT_EQ(Value(delivered[0].request.userInfo),
            Value(ValueMap{{"id", "saved"}, {"payload", "/tmp/shot.png"}}));
  EXPECT_EQ(delivered[1].request.identifier, "dravel.update");
  EXPECT_EQ(delivered[1].request.title, "");
  EXPECT_TRUE(delivered[1].request.sound);
  EXPECT_EQ(Value(delivered[1].request.userInfo), Value(ValueMap{{"id", "update"}}));
}

TEST_F(Notifications, ASecondShowWithTheSameIdReplacesTheFirst) {
  EXPECT_TRUE(isSuccess(show(ValueMap{{"id", "progress"}, {"title", "1 of 2"}}), Value(true)));
  EXPECT_TRUE(isSuccess(show(ValueMap{{"id", "other"}}), Value(true)));
  EXPECT_TRUE(isSuccess(show(ValueMap{{"id", "progress"}, {"title", "2 of 2"}}), Value(true)));
  auto delivered = center().delivered();
  ASSERT_EQ(delivered.size(), 2u);
  EXPECT_EQ(delivered[0].request.identifier, "dravel.other");
  EXPECT_EQ(delivered[1].request.identifier, "dravel.progress");
  EXPECT_EQ(delivered[1].request.title, "2 of 2");
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
  queue().advance(4);
  EXPECT_TRUE(center().click("dravel.export"));
  EXPECT_EQ(NotificationsPlugin::shared().lastResponseAt, queue().now());
  EXPECT_EQ(log().count("[Notifications] clicked export"), 1u);
  ASSERT_EQ(received_.size(), 1u);
  EXPECT_EQ(received_[0].method, "clicked");
  EXPECT_EQ(received_[0].arguments, Value(ValueMap{{"id", "export"}, {"payload", "job-7"}}));
  EXPECT_EQ(center().completedResponses, 1);
  // The answered notification has left the screen.
  EXPECT_TRUE(center().delivered().empty());
  EXPECT_FALSE(center().click("dravel.export"));
}

TEST_F(Notifications, ASavedNotificationWithAPayloadRevealsTheFileInstead) {
  show(ValueMap{{"id", "saved"}, {"payload", "/tmp/Dravel shots/shot.png"}});
  EXPECT_TRUE(center().click("dravel.saved"));
  ASSERT_EQ(desktop().workspace().revealed.size(), 1u);
  EXPECT_EQ(desktop().workspace().revealed[0],
            std::vector<std::string>{"file:///tmp/Dravel%20shots/shot.png"});
  EXPECT_TRUE(received_.empty());
  EXPECT_EQ(log().count("[Notifications] clicked saved"), 1u);
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

TEST_F(Notifications, ClickActionOfTheSimulatedDesktop) {
  show(ValueMap{{"id", "export"}});
  const sim::SimAction* click = nullptr;
  auto actions = sim::simActions();
  for (auto& a : actions)
    if (a.name == "clickNotification") click = &a;
  ASSERT_NE(click, nullptr);
  std::vector<MethodResponse> answers;
  auto record = FlutterResult("test", [&](MethodResponse r) { answers.push_back(std::move(r)); });
  click->run(ValueMap{{"id", "export"}}, desktop(), record);
  click->run(ValueMap{{"identifier", "dravel.export"}}, desktop(),
             FlutterResult("test", [&](MethodResponse r) { answers.push_back(std::move(r)); }));
  ASSERT_EQ(answers.size(), 2u);
  EXPECT_TRUE(isSuccess(answers[0], Value(true)));
  EXPECT_TRUE(isSuccess(answers[1], Value(false)));  // already answered
  ASSERT_EQ(received_.size(), 1u);
  EXPECT_EQ(received_[0].arguments, Value(ValueMap{{"id", "export"}}));
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

TEST(NotificationsScenario, SectionLoadsSettingsAndReportsDeliveries) {
  SimEnvironment env;
  const sim::ScenarioSection* section = nullptr;
  auto sections = sim::scenarioSections();
  for (auto& s : sections)
    if (s.key == "notifications") section = &s;
  ASSERT_NE(section, nullptr);
  EXPECT_NE(section->load(Value("yes"), *env.desktop), "");
  EXPECT_EQ(section->load(ValueMap{{"granted", false}, {"refuseRequests", "off"}}, *env.desktop),
            "");
  EXPECT_FALSE(env.desktop->userNotificationCenter().settings().granted);
  Value state = section->state(*env.desktop);
  EXPECT_EQ(state.boolAt("granted"), false);
  EXPECT_EQ(state.stringAt("refuseRequests"), "off");
  ASSERT_NE(state.at("delivered"), nullptr);
  EXPECT_EQ(*state.at("delivered"), Value(ValueList{}));
}

}  // namespace
}  // namespace dravel::testing
