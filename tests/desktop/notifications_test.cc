// Notifications through a real notification service (dunst) on a bus of the
// test's own, without service activation, so that the service runs exactly
// when the test starts it. dunstctl clicks and closes from outside and
// counts what is on screen.
#include <gtest/gtest.h>
#include <unistd.h>

#include <chrono>
#include <filesystem>
#include <functional>
#include <optional>
#include <tuple>

#include "channels/glib_main_queue.h"
#include "platform/linux/session/linux_user_notifications.h"
#include "tests/support/fake_bus_service.h"
#include "tests/support/host_process.h"
#include "tests/support/x_desktop.h"

namespace dravel::linux_platform {
namespace {

using namespace dravel::testing;

class Recorder : public UserNotificationCenterDelegate {
 public:
  void willPresentNotification(const NotificationRequest&,
                               std::function<void(int)> completion) override {
    completion(0);
  }
  void didReceiveResponse(const NotificationResponse& response,
                          std::function<void()> completion) override {
    responses.push_back(response);
    completion();
  }
  std::vector<NotificationResponse> responses;
};

class Notifications : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(requireTestDesktop());
    setMainQueue(&queue_);
    dir_ = ::testing::TempDir() + "notifications-" + std::to_string(::getpid());
    std::filesystem::create_directories(dir_);
    bus_.emplace(dir_);
    ASSERT_FALSE(bus_->address().empty());
    // This process and every program it starts from here on use that bus.
    ::setenv("DBUS_SESSION_BUS_ADDRESS", bus_->address().c_str(), 1);
  }
  void TearDown() override {
    stopService();
    bus_.reset();
    setMainQueue(nullptr);
    std::filesystem::remove_all(dir_);
  }

  void startService() { service_ = startDunst(dir_); }
  void stopService() {
    if (service_ > 0) stopProcess(service_);
    service_ = -1;
  }

  // Permission as the centre answers it.
  bool authorize(DesktopNotificationCenter& center) {
    int answered = 0;
    bool granted = false;
    center.requestAuthorizationWithOptions(kNotificationAuthorizationAlert,
                                           [&](bool g, std::optional<NotificationError>) {
                                             granted = g;
                                             ++answered;
                                           });
    EXPECT_TRUE(serveMainContextUntil([&] { return answered > 0; }));
    EXPECT_EQ(answered, 1);
    return granted;
  }

  // Shows a notification; true when the centre reports it shown.
  bool show(DesktopNotificationCenter& center, const std::string& identifier,
            const std::string& title, const std::string& id) {
    NotificationRequest request;
    request.identifier = identifier;
    request.title = title;
    request.body = "body of " + title;
    request.sound = true;
    request.userInfo.set("id", Value(id));
    int answered = 0;
    bool shown = false;
    center.addNotificationRequest(request, [&](std::optional<NotificationError> error) {
      shown = !error;
      ++answered;
    });
    EXPECT_TRUE(serveMainContextUntil([&] { return answered > 0; }));
    return shown;
  }

  // What dunst has on screen, once it settles on `expected`.
  bool displayed(int expected) {
    return serveMainContextUntil([&] {
      std::string out;
      runCommand({"dunstctl", "count", "displayed"}, &out);
      return out == std::to_string(expected) + "\n";
    });
  }

  GLibMainQueue queue_;
  std::string dir_;
  std::optional<PrivateBus> bus_;
  pid_t service_ = -1;
};

TEST_F(Notifications, AClickComesBackOnceAsTheDefaultAnswerAndReplacementsKeepOneOnScreen) {
  startService();
  Recorder recorder;
  int broughtForward = 0;
  DesktopNotificationCenter center("app.dravel.Dravel", [&] { ++broughtForward; });
  center.setDelegate(&recorder);
  ASSERT_TRUE(authorize(center));

  ASSERT_TRUE(show(center, "dravel.saved", "Saved", "saved"));
  ASSERT_TRUE(displayed(1));
  // The same identifier again: it takes the earlier one's place.
  ASSERT_TRUE(show(center, "dravel.saved", "Saved again", "saved-again"));
  ASSERT_TRUE(displayed(1));

  runCommand({"dunstctl", "action", "0"});
  ASSERT_TRUE(serveMainContextUntil([&] { return !recorder.responses.empty(); }));
  ASSERT_EQ(recorder.responses.size(), 1u);
  const NotificationResponse& clicked = recorder.responses[0];
  EXPECT_EQ(std::tie(clicked.actionIdentifier, clicked.request.identifier, clicked.request.title),
            std::make_tuple(std::string(kNotificationDefaultActionIdentifier),
                            std::string("dravel.saved"), std::string("Saved again")));
  EXPECT_EQ(Value(clicked.request.userInfo).stringAt("id"), "saved-again");
  EXPECT_EQ(broughtForward, 1);
  runCommand({"dunstctl", "close-all"});
  ASSERT_TRUE(displayed(0));

  // A burst with a new identifier, sent without waiting for the answers (no
  // id of the service known for it yet): still one on screen.
  int answered = 0;
  for (const char* title : {"Saved once", "Saved twice", "Saved again"}) {
    NotificationRequest request;
    request.identifier = "dravel.burst";
    request.title = title;
    center.addNotificationRequest(request, [&](std::optional<NotificationError> error) {
      EXPECT_FALSE(error);
      ++answered;
    });
  }
  ASSERT_TRUE(serveMainContextUntil([&] { return answered == 3; }));
  ASSERT_TRUE(displayed(1));

  runCommand({"dunstctl", "close-all"});
  ASSERT_TRUE(displayed(0));

  // Closed without a click: no answer.
  ASSERT_TRUE(show(center, "dravel.update", "Update", "update"));
  ASSERT_TRUE(displayed(1));
  runCommand({"dunstctl", "close"});
  ASSERT_TRUE(displayed(0));
  // Nothing comes back from it while the main loop runs a while longer.
  const auto until = std::chrono::steady_clock::now() + std::chrono::milliseconds(500);
  serveMainContextUntil([&] { return std::chrono::steady_clock::now() > until; });
  EXPECT_EQ(recorder.responses.size(), 1u);
  EXPECT_EQ(broughtForward, 1);
}

TEST_F(Notifications, WithoutAServiceNothingIsShownAndARestartedServiceIsUsedAfresh) {
  Recorder recorder;
  DesktopNotificationCenter center("app.dravel.Dravel", nullptr, 2000);
  center.setDelegate(&recorder);
  EXPECT_FALSE(authorize(center));
  EXPECT_FALSE(show(center, "dravel.update", "Nobody", "update"));

  startService();
  ASSERT_TRUE(authorize(center));
  ASSERT_TRUE(show(center, "dravel.saved", "First run", "first"));
  ASSERT_TRUE(displayed(1));

  // The service goes and a new one comes: ids of the old run mean nothing.
  stopService();
  EXPECT_FALSE(show(center, "dravel.saved", "Between runs", "between"));
  startService();
  ASSERT_TRUE(show(center, "dravel.saved", "Second run", "second"));
  ASSERT_TRUE(displayed(1));

  runCommand({"dunstctl", "action", "0"});
  ASSERT_TRUE(serveMainContextUntil([&] { return !recorder.responses.empty(); }));
  ASSERT_EQ(recorder.responses.size(), 1u);
  EXPECT_EQ(*recorder.responses[0].request.userInfo.find("id")->asString(), "second");
}

TEST_F(Notifications, AServiceThatNeverAnswersCostsTheMainThreadNothing) {
  FakeBusService silent;
  ASSERT_TRUE(silent.start(
      "org.freedesktop.Notifications", "/org/freedesktop/Notifications",
      "<node><interface name='org.freedesktop.Notifications'>"
      "<method name='GetServerInformation'><arg type='s' direction='out'/>"
      "<arg type='s' direction='out'/><arg type='s' direction='out'/>"
      "<arg type='s' direction='out'/></method>"
      "<method name='Notify'><arg type='s' direction='in'/><arg type='u' direction='in'/>"
      "<arg type='s' direction='in'/><arg type='s' direction='in'/><arg type='s' direction='in'/>"
      "<arg type='as' direction='in'/><arg type='a{sv}' direction='in'/>"
      "<arg type='i' direction='in'/><arg type='u' direction='out'/></method>"
      "</interface></node>",
      FakeBusService::Answer::kNever));
  DesktopNotificationCenter center("app.dravel.Dravel", nullptr, 500);
  int answered = 0;
  std::optional<NotificationError> refusal;
  center.requestAuthorizationWithOptions(kNotificationAuthorizationAlert,
                                         [&](bool granted, std::optional<NotificationError> e) {
                                           EXPECT_FALSE(granted);
                                           refusal = e;
                                           ++answered;
                                         });
  // The main loop keeps turning while the service is silent.
  int ticks = 0;
  queue_.asyncAfter(0.05, [&] { ++ticks; });
  ASSERT_TRUE(serveMainContextUntil([&] { return answered > 0; }));
  EXPECT_EQ(ticks, 1);
  EXPECT_TRUE(refusal);
  EXPECT_FALSE(show(center, "dravel.update", "Unheard", "update"));
  ASSERT_EQ(silent.calls().size(), 2u);
  EXPECT_EQ(silent.calls()[1].method, "Notify");
  EXPECT_NE(silent.calls()[1].arguments.find("'Unheard'"), std::string::npos);
}

}  // namespace
}  // namespace dravel::linux_platform
