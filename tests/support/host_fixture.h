// A host running on the simulated desktop and a virtual clock, driven through
// the interface's end of an in-process messenger.
#pragma once

#include <gtest/gtest.h>

#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "channels/flutter_result.h"
#include "channels/in_process_messenger.h"
#include "channels/log.h"
#include "channels/virtual_main_queue.h"
#include "host/launch.h"
#include "platform/sim/sim_desktop.h"

namespace dravel::testing {

class SimEnvironment {
 public:
  SimEnvironment();
  ~SimEnvironment();

  VirtualMainQueue queue;
  std::shared_ptr<InProcessMessenger> hostEnd;
  std::shared_ptr<InProcessMessenger> uiEnd;
  std::unique_ptr<sim::SimDesktop> desktop;
  ScopedLogCapture log;
};

class HostTest : public ::testing::Test {
 protected:
  void SetUp() override;
  void TearDown() override;

  // Starts the host as the process does.
  void launch();

  // Sends one call from the interface and runs the main queue until the reply
  // arrives (or nothing is left to run). Absent when no reply came.
  std::optional<MethodResponse> call(const std::string& channel, const std::string& method,
                                     Value arguments = Value());
  // The same, expecting a reply.
  MethodResponse ask(const std::string& channel, const std::string& method,
                     Value arguments = Value());
  // The same, on "dravel/capture".
  MethodResponse capture(const std::string& method, Value arguments = Value());
  // A 1440 x 900 primary at scale 2 (display 1) and a 1920 x 1080 screen at
  // scale 1 (display 2) to its left, bottom edges level: the latter's
  // top-left rectangle is (-1920, -180, 1920, 1080).
  void useTwoScreens();
  // "captureScreen" of one display.
  MethodResponse captureDisplay(int64_t displayId) {
    return capture("captureScreen", ValueMap{{"displayId", displayId}});
  }
  // The log lines that start with `prefix`.
  std::vector<std::string> logLines(const std::string& prefix);

  sim::SimDesktop& desktop() { return *env_->desktop; }
  sim::SimScreenCapture& engine() { return desktop().screenCapture(); }
  // The capture route of the system before 14: the window server's images.
  void useWindowServerRoute() { desktop().processInfo().osVersion = {13, 6, 0}; }
  sim::SimWindow& window() { return *env_->desktop->mainWindow(); }
  // The interface's view in the main window.
  sim::SimFlutterViewController& view() { return *desktop().embedding().viewController(); }
  VirtualMainQueue& queue() { return env_->queue; }
  ScopedLogCapture& log() { return env_->log; }
  InProcessMessenger& uiEnd() { return *env_->uiEnd; }

  std::unique_ptr<SimEnvironment> env_;
  LaunchedHost host_;
};

// A HostTest whose host is started before each test.
class LaunchedHostTest : public HostTest {
 protected:
  void SetUp() override {
    HostTest::SetUp();
    launch();
  }
};

// An ordinary window of `pid` in the window list, its bounds in top-left space.
ValueMap windowAt(int64_t pid, Rect bounds);

// Readable checks of a reply.
::testing::AssertionResult isSuccess(const MethodResponse& r, const Value& expected);
::testing::AssertionResult isError(const MethodResponse& r, const std::string& code,
                                   std::optional<std::string> message = std::nullopt);
const Value& successValue(const MethodResponse& r);

}  // namespace dravel::testing
