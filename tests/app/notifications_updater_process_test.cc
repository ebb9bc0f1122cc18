// End-to-end through the dravel-host binary: a notification shown and then
// clicked on the simulated desktop reaches `dravelctl watch` as "clicked";
// the updater channel in the framework's three states.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <filesystem>
#include <fstream>
#include <functional>
#include <sstream>
#include <thread>

#include "channels/socket_client.h"
#include "channels/standard_codec.h"
#include "tests/support/host_fixture.h"

namespace dravel::testing {
namespace {

using Clock = std::chrono::steady_clock;

std::string readFile(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  std::stringstream s;
  s << in.rdbuf();
  return s.str();
}

pid_t spawn(const std::vector<std::string>& argv, const std::string& out, const std::string& err) {
  pid_t pid = ::fork();
  if (pid == 0) {
    ::dup2(::open(out.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644), 1);
    ::dup2(::open(err.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644), 2);
    std::vector<char*> args;
    for (const auto& a : argv) args.push_back(const_cast<char*>(a.c_str()));
    args.push_back(nullptr);
    ::execv(args[0], args.data());
    ::_exit(127);
  }
  return pid;
}

bool waitUntil(const std::function<bool()>& done, double seconds = 20) {
  const auto deadline = Clock::now() + std::chrono::duration<double>(seconds);
  while (!done()) {
    if (Clock::now() > deadline) return false;
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
  }
  return true;
}

// Ends a child (politely, then by force) and reaps it.
void stop(pid_t pid) {
  if (pid <= 0) return;
  ::kill(pid, SIGTERM);
  int status = 0;
  if (!waitUntil([&] { return ::waitpid(pid, &status, WNOHANG) == pid; }, 10)) {
    ::kill(pid, SIGKILL);
    ::waitpid(pid, &status, 0);
  }
}

class HostChannels : public ::testing::Test {
 protected:
  void SetUp() override {
    const char* host = std::getenv("DRAVEL_HOST_BINARY");
    if (!host) GTEST_SKIP() << "DRAVEL_HOST_BINARY is not set";
    host_ = host;
    ctl_ = (std::filesystem::path(host_).parent_path() / "dravelctl").string();
    char dir[] = "/tmp/dravel-e2e7-XXXXXX";
    ASSERT_TRUE(::mkdtemp(dir));
    dir_ = dir;
    socket_ = dir_ + "/host.sock";
  }
  void TearDown() override {
    stop(watch_);
    stop(pid_);
    if (!dir_.empty()) std::filesystem::remove_all(dir_);
  }

  void start(const std::string& scenarioJson) {
    stop(pid_);
    const std::string scenario = dir_ + "/scenario.json";
    std::ofstream(scenario) << scenarioJson;
    pid_ = spawn({host_, "--platform", "sim", "--socket", socket_, "--scenario", scenario},
                 dir_ + "/host.out", dir_ + "/host.log");
    ASSERT_TRUE(waitUntil([&] {
      std::string error;
      return SocketClient::connect(socket_, &error) != nullptr;
    })) << hostLog();
  }
  std::string hostLog() { return readFile(dir_ + "/host.log"); }
  // The host may still be starting when its socket first accepts.
  bool logHas(const std::string& part) {
    return waitUntil([&] { return hostLog().find(part) != std::string::npos; }, 10);
  }

  MethodResponse call(const std::string& channel, const std::string& method,
                      Value arguments = Value()) {
    std::string error;
    auto client = SocketClient::connect(socket_, &error);
    if (!client) return FlutterError::errorWithCode("test_no_connection", error);
    auto reply = client->call(channel, StandardMethodCodec::encodeMethodCall({method, arguments}),
                              &error, 20);
    if (!reply) return FlutterError::errorWithCode("test_no_reply", error);
    if (reply->empty()) return FlutterMethodNotImplemented;
    auto decoded = StandardMethodCodec::decodeEnvelope(*reply);
    if (std::holds_alternative<DecodeError>(decoded))
      return FlutterError::errorWithCode("test_bad_reply");
    auto& envelope = std::get<MethodEnvelope>(decoded);
    if (auto* v = std::get_if<Value>(&envelope)) return *v;
    return std::get<FlutterError>(envelope);
  }
  Value state(const char* key) {
    Value all = successValue(call("sim/desktop", "state"));
    const Value* section = all.at(key);
    return section ? *section : Value();
  }

  std::string host_, ctl_, dir_, socket_;
  pid_t pid_ = -1;
  pid_t watch_ = -1;
};

TEST_F(HostChannels, AClickedNotificationReachesDravelctlWatch) {
  start("{}");
  watch_ = spawn({ctl_, "--socket", socket_, "watch"}, dir_ + "/watch.out", dir_ + "/watch.err");
  const std::string watched = dir_ + "/watch.out";
  // Calls to the interface go to the clients connected at the time: click
  // probes until the watcher shows one.
  int probe = 0;
  ASSERT_TRUE(waitUntil([&] {
    const std::string id = "probe-" + std::to_string(++probe);
    call("dravel/notifications", "show", ValueMap{{"id", id}});
    call("sim/desktop", "clickNotification", ValueMap{{"id", id}});
    return readFile(watched).find("\"probe-") != std::string::npos;
  })) << readFile(dir_ + "/watch.err");

  EXPECT_TRUE(
      isSuccess(call("dravel/notifications", "show",
                     ValueMap{{"title", "Exported"}, {"id", "export"}, {"payload", "job-7"}}),
                Value(true)));
  const Value delivered = *state("notifications").at("delivered");
  ASSERT_EQ(delivered.asList()->size(), 1u);
  EXPECT_EQ(delivered.asList()->at(0).stringAt("identifier"), "dravel.export");

  EXPECT_TRUE(
      isSuccess(call("sim/desktop", "clickNotification", ValueMap{{"id", "export"}}), Value(true)));
  const std::string line =
      R"({"channel":"dravel/notifications","method":"clicked","arguments":{"id":"export","payload":"job-7"}})";
  EXPECT_TRUE(waitUntil([&] { return readFile(watched).find(line) != std::string::npos; }))
      << readFile(watched);
  EXPECT_TRUE(logHas("[Notifications] clicked export")) << hostLog();

  // A saved file's notification is revealed in the file viewer instead.
  call("dravel/notifications", "show", ValueMap{{"id", "saved"}, {"payload", "/tmp/shot.png"}});
  call("sim/desktop", "clickNotification", ValueMap{{"id", "saved"}});
  EXPECT_TRUE(waitUntil([&] {
    return state("revealed") == Value(ValueList{ValueList{"file:///tmp/shot.png"}});
  })) << state("revealed").debugString();
  EXPECT_EQ(readFile(watched).find("\"saved\""), std::string::npos);
}

TEST_F(HostChannels, TheUpdaterInItsThreeStates) {
  start(R"({"updater": {"bundled": false}})");
  EXPECT_TRUE(logHas("[Sparkle] framework not bundled (App Store build) - in-app update off"))
      << hostLog();
  EXPECT_TRUE(isSuccess(call("brindle/sparkle_updater", "isAvailable"), Value(false)));
  EXPECT_TRUE(isError(call("brindle/sparkle_updater", "checkForUpdates"), "unavailable",
                      "Sparkle updater is not available"));
  EXPECT_TRUE(isSuccess(call("brindle/sparkle_updater", "setBetaChannel", Value(true)), Value()));

  start(R"({"updater": {"startError": "No feed configured."}})");
  EXPECT_TRUE(logHas("[Sparkle] updater.start failed: No feed configured. - in-app update off"))
      << hostLog();
  EXPECT_TRUE(isSuccess(call("brindle/sparkle_updater", "isAvailable"), Value(false)));

  start(R"({"updater": {"feedURL": "https://updates.example.com/appcast.xml"}})");
  EXPECT_TRUE(logHas("[Sparkle] updater started, feed=https://updates.example.com/appcast.xml"))
      << hostLog();
  EXPECT_TRUE(logHas("[Sparkle] channel registered, available=1")) << hostLog();
  EXPECT_TRUE(isSuccess(call("brindle/sparkle_updater", "isAvailable"), Value(true)));
  EXPECT_TRUE(isSuccess(call("brindle/sparkle_updater", "setBetaChannel", Value(true)), Value()));
  EXPECT_TRUE(isSuccess(call("brindle/sparkle_updater", "checkForUpdates"), Value()));
  const Value updater = state("updater");
  EXPECT_EQ(*updater.at("checks"), Value(ValueList{ValueList{"beta"}}));
  EXPECT_EQ(*updater.at("allowedChannels"), Value(ValueList{"beta"}));
}

}  // namespace
}  // namespace dravel::testing
