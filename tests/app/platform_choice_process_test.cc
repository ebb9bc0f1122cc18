// Which desktop dravel-host serves: --platform wayland|x11|sim|auto, decided
// before anything starts.
#include <gtest/gtest.h>
#include <unistd.h>

#include "tests/support/host_process.h"

namespace dravel::testing {
namespace {

class PlatformChoice : public HostProcessTest {
 protected:
  // Runs the host to its end; its exit status.
  int runHost(std::vector<std::string> args, const std::vector<std::string>& environment) {
    args.insert(args.begin(), hostBinary_);
    args.insert(args.end(), {"--socket", socket_});
    return run(args, environment, 20);
  }
};

TEST_F(PlatformChoice, ADesktopThatCannotBeServedExitsAndSaysWhy) {
  struct Case {
    std::vector<std::string> arguments;
    std::vector<std::string> environment;
    int status;
    const char* why;
  };
  const Case cases[] = {
      // No display at all: a usage error naming the simulated desktop (auto
      // is the default).
      {{}, {"DISPLAY", "WAYLAND_DISPLAY", "XDG_SESSION_TYPE"}, 2, "--platform sim"},
      {{"--platform", "x11"},
       {"DISPLAY", "WAYLAND_DISPLAY", "XDG_SESSION_TYPE"},
       2,
       "DISPLAY is unset"},
      // X11 is refused in a Wayland session even with a display: there X is
      // a compatibility layer.
      {{"--platform", "x11"},
       {"DISPLAY=:0", "WAYLAND_DISPLAY=wayland-0", "XDG_SESSION_TYPE"},
       2,
       "WAYLAND_DISPLAY"},
      {{"--platform", "x11"},
       {"DISPLAY=:0", "WAYLAND_DISPLAY", "XDG_SESSION_TYPE=wayland"},
       2,
       "XDG_SESSION_TYPE=wayland"},
      // A Wayland session is served as one, never as X11 under XWayland: a
      // compositor nobody runs is named.
      {{},
       {"DISPLAY=:0", "WAYLAND_DISPLAY=dravel-nobody-4091", "XDG_SESSION_TYPE"},
       1,
       "dravel-nobody-4091"},
      {{"--platform", "mir"}, {}, 2, "unknown platform mir"},
      // A display number no server listens on.
      {{"--platform", "x11"}, {"DISPLAY=:4091", "WAYLAND_DISPLAY", "XDG_SESSION_TYPE"}, 1, ":4091"},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(runHost(c.arguments, c.environment), c.status) << c.why << "\n" << err_;
    EXPECT_NE(err_.find(c.why), std::string::npos) << err_;
    EXPECT_NE(::access(socket_.c_str(), F_OK), 0) << "no socket was made";
  }
}

TEST_F(PlatformChoice, AScenarioImpliesTheSimulatedDesktopAndIsRefusedWithX11) {
  const std::string scenario = writeScenario("{}");
  EXPECT_EQ(runHost({"--platform", "x11", "--scenario", scenario}, {"DISPLAY=:0"}), 2) << err_;
  EXPECT_NE(err_.find("--scenario needs the simulated desktop"), std::string::npos) << err_;

  // With a scenario and no platform the host serves the simulated desktop,
  // even without any display.
  hostEnvironment_ = {"DISPLAY", "WAYLAND_DISPLAY=wayland-0"};
  platform_ = "auto";
  start({"--scenario", scenario});
  EXPECT_TRUE(logHas("on the simulated desktop")) << hostLog();
  EXPECT_NE(state("screens").asList(), nullptr) << "the simulated desktop's own channel answers";
}

}  // namespace
}  // namespace dravel::testing
