#include "tests/support/host_process.h"

#include <fcntl.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <thread>

#include "channels/standard_codec.h"
#include "tests/support/host_fixture.h"
#include "tests/support/x_desktop.h"

namespace dravel::testing {

using Clock = std::chrono::steady_clock;

std::string readFile(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  std::stringstream s;
  s << in.rdbuf();
  return s.str();
}

pid_t spawn(const std::vector<std::string>& argv, const std::string& out, const std::string& err,
            const std::vector<std::string>& environment) {
  pid_t pid = ::fork();
  if (pid == 0) {
    for (const std::string& change : environment) {
      const size_t equals = change.find('=');
      if (equals == std::string::npos) {
        ::unsetenv(change.c_str());
      } else {
        ::setenv(change.substr(0, equals).c_str(), change.c_str() + equals + 1, 1);
      }
    }
    int o = ::open(out.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    // One file for both is opened once: two openings would each write from
    // their own offset, over each other's lines.
    int e = err == out ? o : ::open(err.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    ::dup2(o, 1);
    ::dup2(e, 2);
    std::vector<char*> args;
    for (const auto& a : argv) args.push_back(const_cast<char*>(a.c_str()));
    args.push_back(nullptr);
    ::execvp(args[0], args.data());
    ::_exit(127);
  }
  return pid;
}

int waitFor(pid_t pid, double seconds) {
  int status = 0;
  if (!waitUntil([&] { return ::waitpid(pid, &status, WNOHANG) == pid; }, seconds)) return -1;
  return WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
}

bool waitUntil(const std::function<bool()>& done, double seconds) {
  const auto deadline = Clock::now() + std::chrono::duration<double>(seconds);
  while (!done()) {
    if (Clock::now() > deadline) return false;
    std::this_thread::sleep_for(std::chrono::milliseconds(5));
  }
  return true;
}

int stopProcess(pid_t pid) {
  if (pid <= 0) return -1;
  ::kill(pid, SIGTERM);
  int status = waitFor(pid, 10);
  if (status < 0) ::kill(pid, SIGKILL), waitFor(pid, 10);
  return status;
}

pid_t startDunst(const std::string& dir) {
  std::ofstream(dir + "/dunstrc") << "[global]\nmouse_left_click = do_action, close_current\n";
  const pid_t pid =
      spawn({"dunst", "-config", dir + "/dunstrc"}, dir + "/dunst.out", dir + "/dunst.err");
  EXPECT_TRUE(waitUntil([] {
    return runCommand({"gdbus", "call", "--session", "--dest", "org.freedesktop.Notifications",
                       "--object-path", "/org/freedesktop/Notifications", "--method",
                       "org.freedesktop.Notifications.GetServerInformation"});
  })) << readFile(dir + "/dunst.err");
  return pid;
}

std::string hostBinary() {
  const char* host = std::getenv("DRAVEL_HOST_BINARY");
  return host ? host : "";
}

std::string dravelctlBinary() {
  if (const char* ctl = std::getenv("DRAVELCTL_BINARY")) return ctl;
  const std::string host = hostBinary();
  if (host.empty()) return {};
  auto sibling = std::filesystem::path(host).parent_path() / "dravelctl";
  return std::filesystem::exists(sibling) ? sibling.string() : std::string();
}

MethodResponse decodeReply(std::span<const uint8_t> reply) {
  if (reply.empty()) return FlutterMethodNotImplemented;
  auto decoded = StandardMethodCodec::decodeEnvelope(reply);
  if (auto* bad = std::get_if<DecodeError>(&decoded)) {
    ADD_FAILURE() << bad->what;
    return FlutterError::errorWithCode("test_bad_reply");
  }
  auto& envelope = std::get<MethodEnvelope>(decoded);
  if (auto* v = std::get_if<Value>(&envelope)) return *v;
  return std::get<FlutterError>(envelope);
}

void HostProcessTest::SetUp() {
  hostBinary_ = hostBinary();
  // ctest always sets it: an end-to-end test without its host fails.
  if (hostBinary_.empty()) GTEST_FAIL() << "DRAVEL_HOST_BINARY is not set (ctest sets it)";
  ctlBinary_ = dravelctlBinary();
  char dir[] = "/tmp/dravel-e2e-XXXXXX";
  ASSERT_TRUE(::mkdtemp(dir));
  dir_ = dir;
  socket_ = dir_ + "/run/host.sock";
}

void HostProcessTest::TearDown() {
  stopHost();
  if (!dir_.empty()) std::filesystem::remove_all(dir_);
}

std::vector<std::string> HostProcessTest::hostArgs(const std::vector<std::string>& extra) const {
  std::vector<std::string> argv = hostPrefix_;
  argv.insert(argv.end(), {hostBinary_, "--platform", platform_, "--socket", socket_});
  argv.insert(argv.end(), extra.begin(), extra.end());
  return argv;
}

void HostProcessTest::start(const std::vector<std::string>& extra) {
  pid_ = spawn(hostArgs(extra), dir_ + "/host.out", dir_ + "/host.log", hostEnvironment_);
  int status = 0;
  bool ended = false;
  const bool serving = waitUntil([&] {
    std::string error;
    if (SocketClient::connect(socket_, &error)) return true;
    ended = ::waitpid(pid_, &status, WNOHANG) == pid_;
    return ended;
  });
  if (ended) {
    pid_ = -1;
    FAIL() << "the host ended early ("
           << (WIFSIGNALED(status) ? "signal " + std::to_string(WTERMSIG(status))
                                   : "status " + std::to_string(WEXITSTATUS(status)))
           << ")\n"
           << hostLog();
  }
  if (!serving) FAIL() << "the host did not start serving\n" << hostLog();
}

void HostProcessTest::startOnScenario(const std::string& json) {
  stopHost();
  start({"--scenario", writeScenario(json)});
}

int HostProcessTest::stopHost() {
  const int status = stopProcess(pid_);
  pid_ = -1;
  return status;
}

std::string HostProcessTest::hostLog() const {
  return readFile(dir_ + "/host.log");
}

bool HostProcessTest::logHas(const std::string& part) const {
  return waitUntil([&] { return hostLog().find(part) != std::string::npos; }, 10);
}

std::string HostProcessTest::writeScenario(const std::string& json) const {
  std::string path = dir_ + "/scenario.json";
  std::ofstream(path) << json;
  return path;
}

std::unique_ptr<SocketClient> HostProcessTest::connect() {
  std::string error;
  auto client = SocketClient::connect(socket_, &error);
  EXPECT_TRUE(client) << error;
  return client;
}

MethodResponse HostProcessTest::call(const std::string& channel, const std::string& method,
                                     Value arguments) {
  auto client = connect();
  if (!client) return FlutterError::errorWithCode("test_no_connection");
  return call(*client, channel, method, std::move(arguments));
}

MethodResponse HostProcessTest::call(SocketClient& client, const std::string& channel,
                                     const std::string& method, Value arguments) {
  std::string error;
  auto reply =
      client.call(channel, StandardMethodCodec::encodeMethodCall({method, arguments}), &error, 20);
  if (!reply) {
    ADD_FAILURE() << channel << "." << method << ": " << error;
    return FlutterError::errorWithCode("test_no_reply");
  }
  return decodeReply(**reply);
}

Value HostProcessTest::state(const std::string& key) {
  const Value all = successValue(call("sim/desktop", "state"));
  const Value* section = all.at(key);
  return section ? *section : Value();
}

int HostProcessTest::ctl(std::vector<std::string> args, std::string* out, std::string* err) {
  args.insert(args.begin(), {ctlBinary_, "--socket", socket_, "--timeout", "20"});
  const int status = waitFor(spawn(args, dir_ + "/ctl.out", dir_ + "/ctl.err"), 30);
  if (out) *out = readFile(dir_ + "/ctl.out");
  if (err) *err = readFile(dir_ + "/ctl.err");
  return status;
}

int HostProcessTest::run(const std::vector<std::string>& argv,
                         const std::vector<std::string>& environment, double seconds) {
  const pid_t pid = spawn(argv, dir_ + "/run.out", dir_ + "/run.err", environment);
  const int status = waitFor(pid, seconds);
  if (status < 0) {
    ::kill(pid, SIGKILL);
    waitFor(pid, 10);
  }
  err_ = readFile(dir_ + "/run.err");
  return status;
}

int runDemo(const std::string& png, std::string* output) {
  const std::string out = png + ".out";
  const int status = waitFor(
      spawn({DRAVEL_SOURCE_DIR "/scripts/run-demo", "--inside-test-desktop", png}, out, out), 90);
  if (output) *output = readFile(out);
  return status;
}

}  // namespace dravel::testing
