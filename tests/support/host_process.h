// The harness shared by the end-to-end tests: the real dravel-host and
// dravelctl binaries run as child processes, talking over a private socket in
// a temporary directory.
#pragma once

#include <gtest/gtest.h>
#include <sys/types.h>

#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "channels/flutter_result.h"
#include "channels/socket_client.h"

namespace dravel::testing {

// The whole of a file; empty when it cannot be read.
std::string readFile(const std::string& path);

// Runs a program (a bare name is looked up on PATH) with stdout and stderr
// into files and a changed environment (each "NAME=VALUE" set, each bare
// "NAME" removed); returns its pid.
pid_t spawn(const std::vector<std::string>& argv, const std::string& out, const std::string& err,
            const std::vector<std::string>& environment = {});

// Waits for a child to end; its exit status (128 + the signal when killed), or
// -1 after the deadline.
int waitFor(pid_t pid, double seconds);

// Runs the main job (scripts/run-demo) on this test desktop, its screenshot
// written to `png`; its exit status (-1 past 90 s), and in `output` what it
// printed.
int runDemo(const std::string& png, std::string* output);

// Polls until `done` holds; false when the deadline passes first.
bool waitUntil(const std::function<bool()>& done, double seconds = 20);

// Ends a child with SIGTERM and waits for it, killing it when it does not end
// within 10 s. The status of the SIGTERM wait, as waitFor gives it.
int stopProcess(pid_t pid);

// A child stopped (stopProcess) when this goes out of scope.
struct StoppedAtExit {
  pid_t pid = -1;
  ~StoppedAtExit() { stopProcess(pid); }
};

// Starts dunst (a left click runs the default action) with its files in
// `dir`; its pid once it answers on the session bus, after a failure when
// it never does.
pid_t startDunst(const std::string& dir);

// The host binary from DRAVEL_HOST_BINARY; empty when unset.
std::string hostBinary();
// DRAVELCTL_BINARY, else the dravelctl built next to the host; empty when
// there is none.
std::string dravelctlBinary();

// A method call's reply frame, decoded; failures are reported.
MethodResponse decodeReply(std::span<const uint8_t> reply);

// A test that runs dravel-host on the simulated platform. Skips when no host
// binary is given; the temporary directory goes at the end.
class HostProcessTest : public ::testing::Test {
 protected:
  void SetUp() override;
  // Stops the host (without checking how it ended) and removes the directory.
  void TearDown() override;

  // The host's command line with the platform and the private socket.
  std::vector<std::string> hostArgs(const std::vector<std::string>& extra = {}) const;
  // Starts the host and waits until it accepts connections.
  void start(const std::vector<std::string>& extra = {});
  // Starts the host on a scenario given as JSON.
  void startOnScenario(const std::string& json);
  // Stops a running host; its status as stopProcess gives it, or -1 when none runs.
  int stopHost();

  std::string hostLog() const;
  // True when the host log shows `part` within 10 s.
  bool logHas(const std::string& part) const;
  std::string writeScenario(const std::string& json) const;

  std::unique_ptr<SocketClient> connect();
  // One call on a fresh connection, decoded.
  MethodResponse call(const std::string& channel, const std::string& method,
                      Value arguments = Value());
  MethodResponse call(SocketClient& client, const std::string& channel, const std::string& method,
                      Value arguments = Value());
  // A section of the simulated desktop's state; null when absent.
  Value state(const std::string& key);

  // Runs dravelctl on the host's socket; its exit status, with its output when asked for.
  int ctl(std::vector<std::string> args, std::string* out = nullptr, std::string* err = nullptr);
  // Runs a program to its end, what it writes to stderr into err_; its exit
  // status, or -1 when it had to be killed after `seconds` (it hung).
  int run(const std::vector<std::string>& argv, const std::vector<std::string>& environment = {},
          double seconds = 30);

  // The desktop the host serves ("sim" unless a test says otherwise) and
  // changes to its environment, as spawn takes them.
  std::string platform_ = "sim";
  std::vector<std::string> hostEnvironment_;
  // What runs the host (a sandbox, for one), before its own command line.
  std::vector<std::string> hostPrefix_;
  std::string hostBinary_;
  std::string ctlBinary_;  // empty when dravelctl is not built
  std::string dir_;
  std::string socket_;
  pid_t pid_ = -1;
  std::string err_;  // what the last run wrote to stderr
};

}  // namespace dravel::testing
