#include "tests/support/host_fixture.h"

#include "channels/method_channel.h"
#include "host/app_delegate.h"
#include "host/capture_handler.h"
#include "host/notifications_plugin.h"
#include "host/sandbox.h"
#include "host/save_folder.h"
#include "host/tray_shortcuts.h"

namespace dravel::testing {

SimEnvironment::SimEnvironment() {
  auto pair = InProcessMessenger::makePair();
  hostEnd = pair.first;
  uiEnd = pair.second;
  desktop = std::make_unique<sim::SimDesktop>(hostEnd);
  setMainQueue(&queue);
  setPlatform(desktop.get());
}

SimEnvironment::~SimEnvironment() {
  setPlatform(nullptr);
  setMainQueue(nullptr);
}

void HostTest::SetUp() {
  env_ = std::make_unique<SimEnvironment>();
  Sandbox::resetForTesting();
  NotificationsPlugin::resetForTesting();
  SaveFolder::resetForTesting();
}

void HostTest::TearDown() {
  // Let deferred work finish while everything still exists.
  desktop().screenCapture().waitUntilIdle();
  queue().runUntilIdle();
  host_ = {};
  CaptureHandler::shared().window.reset();
  CaptureHandler::shared().abandonCopies();
  NotificationsPlugin::resetForTesting();
  Sandbox::resetForTesting();
  SaveFolder::resetForTesting();
  TrayShortcuts::resetForTesting();
  AppDelegate::debuggerAlertShown = false;
  env_.reset();
}

void HostTest::launch() {
  host_ = launchHost();
}

std::optional<MethodResponse> HostTest::call(const std::string& channel, const std::string& method,
                                             Value arguments) {
  std::optional<MethodResponse> reply;
  FlutterMethodChannel ui(channel, env_->uiEnd.get());
  ui.invokeMethod(method, std::move(arguments),
                  [&reply](MethodResponse r) { reply = std::move(r); });
  queue().runUntil([&] { return reply.has_value(); }, 10.0);
  return reply;
}

MethodResponse HostTest::ask(const std::string& channel, const std::string& method,
                             Value arguments) {
  auto reply = call(channel, method, std::move(arguments));
  if (!reply) {
    ADD_FAILURE() << method << " got no reply";
    return FlutterError::errorWithCode("test_no_reply");
  }
  return *reply;
}

MethodResponse HostTest::capture(const std::string& method, Value arguments) {
  return ask("dravel/capture", method, std::move(arguments));
}

void HostTest::useTwoScreens() {
  desktop().screens().list = {sim::SimScreen::withDisplayId({0, 0, 1440, 900}, 2.0, 1),
                              sim::SimScreen::withDisplayId({-1920, 0, 1920, 1080}, 1.0, 2)};
}

std::vector<std::string> HostTest::logLines(const std::string& prefix) {
  std::vector<std::string> out;
  for (const std::string& line : log().lines()) {
    if (line.rfind(prefix, 0) == 0) out.push_back(line);
  }
  return out;
}

ValueMap windowAt(int64_t pid, Rect bounds) {
  return ValueMap{
      {"kCGWindowLayer", 0},
      {"kCGWindowOwnerPID", pid},
      {"kCGWindowBounds",
       ValueMap{
           {"X", bounds.x}, {"Y", bounds.y}, {"Width", bounds.width}, {"Height", bounds.height}}}};
}

namespace {
std::string describe(const MethodResponse& r) {
  if (auto* v = std::get_if<Value>(&r)) return "success " + v->debugString();
  if (auto* e = std::get_if<FlutterError>(&r)) {
    return "error " + e->code + " / " + e->message.value_or("(null)");
  }
  return "not implemented";
}
}  // namespace

::testing::AssertionResult isSuccess(const MethodResponse& r, const Value& expected) {
  auto* v = std::get_if<Value>(&r);
  if (v && *v == expected) return ::testing::AssertionSuccess();
  return ::testing::AssertionFailure()
         << "expected success " << expected.debugString() << ", got " << describe(r);
}

::testing::AssertionResult isError(const MethodResponse& r, const std::string& code,
                                   std::optional<std::string> message) {
  auto* e = std::get_if<FlutterError>(&r);
  if (e && e->code == code && e->message == message && e->details.isNull()) {
    return ::testing::AssertionSuccess();
  }
  return ::testing::AssertionFailure() << "expected error " << code << " / "
                                       << message.value_or("(null)") << ", got " << describe(r);
}

const Value& successValue(const MethodResponse& r) {
  static const Value kNull;
  auto* v = std::get_if<Value>(&r);
  if (!v) {
    ADD_FAILURE() << "expected success, got " << describe(r);
    return kNull;
  }
  return *v;
}

}  // namespace dravel::testing
