// Which desktop dravel-host serves: --platform x11|sim|auto, decided before
// anything starts.
#include <gtest/gtest.h>
#include <unistd.h>

#include "tests/support/host_process.h"

namespace dravel::testing {
namespace {

class PlatformChoice : public HostProcessTest {
 protected:
  // Runs the host to its end; its exit status and what it wrote to stderr.
  int run(const std::vector<std::string>& args, const std::vector<std::string>& environment,
          std::string& err) {
    std::vector<std::string> argv = {hostBinary_};
    argv.insert(argv.end(), args.begin(), args.end());
    argv.insert(argv.end(), {"--socket", socket_});
    const pid_t pid = spawn(argv, dir_ + "/choice.out", dir_ + "/choice.err", environment);
    const int status = waitFor(pid, 20);
    err = readFile(dir_ + "/choice.err");
    return status;
  }
};

TEST_F(PlatformChoice, AutoWithoutAnX11SessionExitsWithUsageStatusAndNamesTheSimulatedDesktop) {
  struct Case {
    std::vector<std::string> environment;
    const char* why;
  };
  const Case cases[] = {
      {{"DISPLAY", "WAYLAND_DISPLAY", "XDG_SESSION_TYPE"}, "DISPLAY is unset"},
      // Wayland wins over a display: under it X is a compatibility layer.
      {{"DISPLAY=:0", "WAYLAND_DISPLAY=wayland-0", "XDG_SESSION_TYPE"}, "WAYLAND_DISPLAY"},
      {{"DISPLAY=:0", "WAYLAND_DISPLAY", "XDG_SESSION_TYPE=wayland"}, "XDG_SESSION_TYPE=wayland"},
  };
  for (const Case& c : cases) {
    for (const char* platform : {"auto", "x11"}) {
      std::string err;
      EXPECT_EQ(run({"--platform", platform}, c.environment, err), 2) << c.why << "\n" << err;
      EXPECT_NE(err.find(c.why), std::string::npos) << err;
      EXPECT_NE(err.find("--platform sim"), std::string::npos) << err;
      EXPECT_NE(::access(socket_.c_str(), F_OK), 0) << "no socket was made";
    }
  }
  // The default is auto.
  std::string err;
  EXPECT_EQ(run({}, {"DISPLAY", "WAYLAND_DISPLAY", "XDG_SESSION_TYPE"}, err), 2) << err;
}

TEST_F(PlatformChoice, AScenarioImpliesTheSimulatedDesktopAndIsRefusedWithX11) {
  const std::string scenario = writeScenario("{}");
  std::string err;
  EXPECT_EQ(run({"--platform", "x11", "--scenario", scenario}, {"DISPLAY=:0"}, err), 2) << err;
  EXPECT_NE(err.find("--scenario needs the simulated desktop"), std::string::npos) << err;
  EXPECT_EQ(run({"--platform", "wayland"}, {}, err), 2);
  EXPECT_NE(err.find("unknown platform wayland"), std::string::npos) << err;

  // With a scenario and no platform the host serves the simulated desktop,
  // even without any display.
  hostEnvironment_ = {"DISPLAY", "WAYLAND_DISPLAY=wayland-0"};
  platform_ = "auto";
  start({"--scenario", scenario});
  EXPECT_TRUE(logHas("on the simulated desktop")) << hostLog();
  EXPECT_NE(state("screens").asList(), nullptr) << "the simulated desktop's own channel answers";
}

TEST_F(PlatformChoice, AnX11DisplayThatCannotBeOpenedFails) {
  std::string err;
  // A display number no server listens on.
  EXPECT_EQ(
      run({"--platform", "x11"}, {"DISPLAY=:4091", "WAYLAND_DISPLAY", "XDG_SESSION_TYPE"}, err), 1)
      << err;
  EXPECT_NE(err.find(":4091"), std::string::npos) << err;
  EXPECT_NE(::access(socket_.c_str(), F_OK), 0);
}

}  // namespace
}  // namespace dravel::testing
