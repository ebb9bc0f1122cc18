// End-to-end: the real dravel-host binary, driven over its socket.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <pwd.h>
#include <signal.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <thread>

#include "channels/socket_client.h"
#include "channels/standard_codec.h"
#include "platform/image_codec.h"
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

// Runs a program with stdout and stderr into files; returns its pid.
pid_t spawn(const std::vector<std::string>& argv, const std::string& out, const std::string& err) {
  pid_t pid = ::fork();
  if (pid == 0) {
    int o = ::open(out.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    int e = ::open(err.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    ::dup2(o, 1);
    ::dup2(e, 2);
    std::vector<char*> args;
    for (const auto& a : argv) args.push_back(const_cast<char*>(a.c_str()));
    args.push_back(nullptr);
    ::execv(args[0], args.data());
    ::_exit(127);
  }
  return pid;
}

// Waits for a child to end; its exit status, or -1 after the deadline.
int waitFor(pid_t pid, double seconds) {
  auto deadline = Clock::now() + std::chrono::duration<double>(seconds);
  for (;;) {
    int status = 0;
    pid_t r = ::waitpid(pid, &status, WNOHANG);
    if (r == pid) return WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
    if (Clock::now() > deadline) return -1;
    std::this_thread::sleep_for(std::chrono::milliseconds(5));
  }
}

struct Reply {
  std::optional<MethodResponse> response;  // absent: no reply (connection ended)
};

class HostProcess : public ::testing::Test {
 protected:
  void SetUp() override {
    const char* host = std::getenv("DRAVEL_HOST_BINARY");
    if (!host) GTEST_SKIP() << "DRAVEL_HOST_BINARY is not set";
    hostBinary_ = host;
    if (const char* ctl = std::getenv("DRAVELCTL_BINARY")) {
      ctlBinary_ = ctl;
    } else {
      // Built next to the host.
      auto sibling = std::filesystem::path(hostBinary_).parent_path() / "dravelctl";
      if (std::filesystem::exists(sibling)) ctlBinary_ = sibling.string();
    }
    char dir[] = "/tmp/dravel-e2e-XXXXXX";
    ASSERT_TRUE(::mkdtemp(dir));
    dir_ = dir;
    socket_ = dir_ + "/run/host.sock";
  }

  void TearDown() override {
    if (pid_ > 0) {
      ::kill(pid_, SIGTERM);
      int status = waitFor(pid_, 10);
      if (status < 0) ::kill(pid_, SIGKILL), waitFor(pid_, 10);
      EXPECT_EQ(status, 0) << "the host stops cleanly on SIGTERM\n" << hostLog();
      EXPECT_NE(::access(socket_.c_str(), F_OK), 0) << "and removes its socket";
    }
    if (!dir_.empty()) std::filesystem::remove_all(dir_);
  }

  std::vector<std::string> hostArgs(const std::vector<std::string>& extra) {
    std::vector<std::string> argv = {hostBinary_, "--platform", "sim", "--socket", socket_};
    argv.insert(argv.end(), extra.begin(), extra.end());
    return argv;
  }

  // Starts the host and waits until it accepts connections.
  void start(const std::vector<std::string>& extra = {}) {
    pid_ = spawn(hostArgs(extra), dir_ + "/host.out", dir_ + "/host.log");
    auto deadline = Clock::now() + std::chrono::seconds(20);
    while (Clock::now() < deadline) {
      std::string error;
      if (SocketClient::connect(socket_, &error)) return;
      int status = 0;
      ASSERT_NE(::waitpid(pid_, &status, WNOHANG), pid_) << "the host ended early\n" << hostLog();
      std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
    FAIL() << "the host did not start serving\n" << hostLog();
  }

  std::string hostLog() { return readFile(dir_ + "/host.log"); }

  std::unique_ptr<SocketClient> connect() {
    std::string error;
    auto client = SocketClient::connect(socket_, &error);
    EXPECT_TRUE(client) << error;
    return client;
  }

  // One call on a fresh connection, decoded.
  MethodResponse call(const std::string& channel, const std::string& method,
                      Value arguments = Value()) {
    auto client = connect();
    if (!client) return FlutterError::errorWithCode("test_no_connection");
    return call(*client, channel, method, std::move(arguments));
  }
  MethodResponse call(SocketClient& client, const std::string& channel, const std::string& method,
                      Value arguments = Value()) {
    std::string error;
    auto reply = client.call(channel, StandardMethodCodec::encodeMethodCall({method, arguments}),
                             &error, 20);
    if (!reply) {
      ADD_FAILURE() << channel << "." << method << ": " << error;
      return FlutterError::errorWithCode("test_no_reply");
    }
    if (reply->empty()) return FlutterMethodNotImplemented;
    auto decoded = StandardMethodCodec::decodeEnvelope(*reply);
    if (auto* bad = std::get_if<DecodeError>(&decoded)) {
      ADD_FAILURE() << bad->what;
      return FlutterError::errorWithCode("test_bad_reply");
    }
    auto& envelope = std::get<MethodEnvelope>(decoded);
    if (auto* v = std::get_if<Value>(&envelope)) return *v;
    return std::get<FlutterError>(envelope);
  }

  // True when the host ends the connection without sending anything more.
  static bool endsWithoutReply(SocketClient& client) {
    std::string error;
    auto frame = client.readFrame(&error, 10);
    return !frame && error != "timed out";
  }

  void expectLogLine(const std::string& part) {
    auto deadline = Clock::now() + std::chrono::seconds(10);
    while (hostLog().find(part) == std::string::npos && Clock::now() < deadline) {
      std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
    EXPECT_NE(hostLog().find(part), std::string::npos) << part << "\n" << hostLog();
  }

  std::string writeScenario(const std::string& json) {
    std::string path = dir_ + "/scenario.json";
    std::ofstream(path) << json;
    return path;
  }

  std::string hostBinary_;
  std::string ctlBinary_;
  std::string dir_;
  std::string socket_;
  pid_t pid_ = -1;
};

TEST_F(HostProcess, StartsLikeTheApplicationAndServesItsChannels) {
  start();
  struct stat st {};
  ASSERT_EQ(::stat(socket_.c_str(), &st), 0);
  EXPECT_EQ(st.st_mode & 0777, 0600u);
  ASSERT_EQ(::stat((dir_ + "/run").c_str(), &st), 0);
  EXPECT_EQ(st.st_mode & 0777, 0700u);

  auto geometry = call("dravel/capture", "screenUnderCursor");
  const Value& g = successValue(geometry);
  for (const char* key : {"scale", "displayId", "screenX", "screenY", "screenW", "screenH",
                          "cursorX", "cursorY"}) {
    EXPECT_TRUE(g.at(key)) << key;
  }
  EXPECT_TRUE(isSuccess(call("dravel/capture", "hasPermission"), Value(true)));
  EXPECT_TRUE(std::holds_alternative<FlutterMethodNotImplementedT>(call("no/such", "channel")));

  const Value state = successValue(call("sim/desktop", "state"));
  ASSERT_TRUE(state.at("mainWindow"));
  EXPECT_EQ(*state.at("mainWindow")->at("visible"), Value(false));
  EXPECT_EQ(*state.at("mainWindow")->at("alpha"), Value(0.0));
  EXPECT_EQ(*state.at("mainWindow")->at("overlayActive"), Value(false));

  // A reopen with no visible window shows the window 0.3 s later.
  EXPECT_TRUE(isSuccess(call("sim/desktop", "reopen", ValueMap{{"hasVisibleWindows", false}}),
                        Value(true)));
  auto deadline = Clock::now() + std::chrono::seconds(10);
  Value visible;
  while (Clock::now() < deadline) {
    visible = *successValue(call("sim/desktop", "state")).at("mainWindow")->at("visible");
    if (visible == Value(true)) break;
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
  }
  EXPECT_EQ(visible, Value(true));
}

TEST_F(HostProcess, LoadsScenariosAtStartAndOverTheChannel) {
  start({"--scenario", writeScenario(R"({"permissions": {"screenRecording": false},
                                        "futureSection": 1})")});
  EXPECT_TRUE(isSuccess(call("dravel/capture", "hasPermission"), Value(false)));
  EXPECT_TRUE(isSuccess(call("sim/desktop", "load",
                             ValueMap{{"permissions", ValueMap{{"screenRecording", true}}}}),
                        Value()));
  EXPECT_TRUE(isSuccess(call("dravel/capture", "hasPermission"), Value(true)));
  EXPECT_TRUE(isError(call("sim/desktop", "load", ValueMap{{"permissions", 1}}), "bad_scenario",
                      "permissions: expected a map"));
}

TEST_F(HostProcess, RefusesABadScenarioFileAtStart) {
  std::string path = writeScenario(R"({"process": {"pid": "one"}})");
  pid_t pid = spawn(hostArgs({"--scenario", path}), dir_ + "/bad.out", dir_ + "/bad.log");
  EXPECT_EQ(waitFor(pid, 20), 1);
  EXPECT_NE(readFile(dir_ + "/bad.log").find("process: pid: expected an integer"), std::string::npos)
      << readFile(dir_ + "/bad.log");
  EXPECT_NE(::access(socket_.c_str(), F_OK), 0);
}

TEST_F(HostProcess, BadInputClosesOnlyThatConnection) {
  start();
  auto keep = connect();  // an innocent client, served throughout

  {  // A frame announcing more than the limit.
    auto client = connect();
    std::vector<uint8_t> header = {0xff, 0xff, 0xff, 0x7f, 1, 0, 0, 0};
    header.resize(kFrameHeaderSize, 0);
    std::string error;
    ASSERT_TRUE(client->sendBytes(header, &error));
    EXPECT_TRUE(endsWithoutReply(*client));
    expectLogLine("sent a bad frame (frame of 2147483647 bytes over the limit");
  }
  {  // A frame of an unknown kind.
    auto client = connect();
    std::vector<uint8_t> header = {12, 0, 0, 0, 9, 0, 0, 0};
    header.resize(kFrameHeaderSize, 0);
    std::string error;
    ASSERT_TRUE(client->sendBytes(header, &error));
    EXPECT_TRUE(endsWithoutReply(*client));
    expectLogLine("unknown frame kind 9");
  }
  {  // A truncated frame, then the client goes.
    auto client = connect();
    auto frame = frameMessage(FrameKind::kCall, 1, "sim/desktop",
                              StandardMethodCodec::encodeMethodCall({"state", Value()}))
                     .flatten();
    frame.resize(frame.size() - 3);
    std::string error;
    ASSERT_TRUE(client->sendBytes(frame, &error));
  }
  expectLogLine("ended its connection inside a frame");
  {  // A sound frame whose payload does not decode: a codec error, and the connection lives.
    auto client = connect();
    std::string error;
    auto reply = client->call("dravel/capture", Message({0xff, 0xff, 0xff}), &error, 10);
    ASSERT_TRUE(reply) << error;
    auto envelope = StandardMethodCodec::decodeEnvelope(*reply);
    ASSERT_TRUE(std::holds_alternative<MethodEnvelope>(envelope));
    auto* failure = std::get_if<FlutterError>(&std::get<MethodEnvelope>(envelope));
    ASSERT_TRUE(failure);
    EXPECT_EQ(failure->code, "bad_call");
    EXPECT_TRUE(isSuccess(call(*client, "dravel/capture", "hasPermission"), Value(true)));
  }
  {  // A client that asks and vanishes before the answer.
    auto client = connect();
    std::string error;
    for (int i = 0; i < 20; ++i) {
      ASSERT_TRUE(client->sendFrame(FrameKind::kCall, client->nextRequestId(), "sim/desktop",
                                    StandardMethodCodec::encodeMethodCall({"state", Value()}),
                                    &error));
    }
  }
  EXPECT_TRUE(isSuccess(call(*keep, "dravel/capture", "hasPermission"), Value(true)));
  EXPECT_TRUE(isSuccess(call("dravel/capture", "hasPermission"), Value(true)));
}

TEST_F(HostProcess, ASecondHostRefusesAndAStaleSocketIsReplaced) {
  start();
  pid_t second = spawn(hostArgs({}), dir_ + "/second.out", dir_ + "/second.log");
  EXPECT_EQ(waitFor(second, 20), 1);
  EXPECT_NE(readFile(dir_ + "/second.log").find("another host is already serving " + socket_),
            std::string::npos)
      << readFile(dir_ + "/second.log");
  EXPECT_TRUE(isSuccess(call("dravel/capture", "hasPermission"), Value(true)));

  // A host that dies without cleaning up leaves its socket behind.
  ::kill(pid_, SIGKILL);
  waitFor(pid_, 10);
  pid_ = -1;
  ASSERT_EQ(::access(socket_.c_str(), F_OK), 0);
  start();
  expectLogLine("[socket] replaced a stale socket at " + socket_);
  EXPECT_TRUE(isSuccess(call("dravel/capture", "hasPermission"), Value(true)));
}

TEST_F(HostProcess, RefusesConnectionsFromOtherUsers) {
  if (::geteuid() != 0) GTEST_SKIP() << "needs root to act as another user";
  const passwd* nobody = ::getpwnam("nobody");
  if (!nobody) GTEST_SKIP() << "no user nobody";
  start();
  // Open the file permissions, so that only the peer check stands in the way.
  ::chmod(dir_.c_str(), 0755);
  ::chmod((dir_ + "/run").c_str(), 0755);
  ::chmod(socket_.c_str(), 0666);

  pid_t child = ::fork();
  if (child == 0) {
    if (::setgid(nobody->pw_gid) != 0 || ::setuid(nobody->pw_uid) != 0) ::_exit(10);
    std::string error;
    auto client = SocketClient::connect(socket_, &error);
    if (!client) ::_exit(11);
    auto reply = client->call("dravel/capture",
                              StandardMethodCodec::encodeMethodCall({"hasPermission", Value()}),
                              &error, 10);
    ::_exit(reply ? 12 : 0);  // 0: the host closed without answering
  }
  EXPECT_EQ(waitFor(child, 30), 0);
  expectLogLine("[socket] refused a connection from uid " + std::to_string(nobody->pw_uid));
  EXPECT_TRUE(isSuccess(call("dravel/capture", "hasPermission"), Value(true)));
}

TEST_F(HostProcess, DravelctlCallsPrintsAndReportsErrors) {
  if (ctlBinary_.empty()) GTEST_SKIP() << "DRAVELCTL_BINARY is not set";
  // A small screen keeps the screenshot quick.
  start({"--scenario", writeScenario(R"({"screens": [{"frame": [0, 0, 160, 100], "scale": 2.0,
                                                      "displayId": 1}],
                                        "mainScreen": 0, "pointer": [80, 50]})")});
  auto run = [&](std::vector<std::string> args, std::string* out, std::string* err) {
    args.insert(args.begin(), {ctlBinary_, "--socket", socket_, "--timeout", "20"});
    pid_t pid = spawn(args, dir_ + "/ctl.out", dir_ + "/ctl.err");
    int status = waitFor(pid, 30);
    *out = readFile(dir_ + "/ctl.out");
    *err = readFile(dir_ + "/ctl.err");
    return status;
  };
  std::string out, err;
  EXPECT_EQ(run({"call", "dravel/capture", "screenUnderCursor"}, &out, &err), 0) << err;
  EXPECT_NE(out.find("\"displayId\": 1"), std::string::npos) << out;

  EXPECT_EQ(run({"call", "sim/desktop", "load", R"({"process": {"pid": {"$double": 1}}})"}, &out,
                &err),
            1);
  EXPECT_NE(err.find("error bad_scenario: process: pid: expected an integer"), std::string::npos)
      << err;
  EXPECT_EQ(run({"call", "sim/desktop", "load",
                 "@" + writeScenario(R"({"permissions": {"screenRecording": false}})")},
                &out, &err),
            0)
      << err;
  EXPECT_EQ(out, "null\n");
  EXPECT_TRUE(isSuccess(call("dravel/capture", "hasPermission"), Value(false)));
  EXPECT_TRUE(isSuccess(call("sim/desktop", "load",
                             ValueMap{{"permissions", ValueMap{{"screenRecording", true}}}}),
                        Value()));
  EXPECT_EQ(run({"call", "dravel/capture", "noSuchMethod"}, &out, &err), 1);
  EXPECT_EQ(run({"call", "sim/desktop", "load", "{not json"}, &out, &err), 2);

  // The screenshot is the capture reply, written as PNG.
  auto capture = call("dravel/capture", "captureScreen");
  std::string png = dir_ + "/shot.png";
  int status = run({"screenshot", "-o", png}, &out, &err);
  if (auto* value = std::get_if<Value>(&capture)) {
    ASSERT_EQ(status, 0) << err;
    auto decoded = decodePng(std::span<const uint8_t>(
        reinterpret_cast<const uint8_t*>(readFile(png).data()), readFile(png).size()));
    ASSERT_TRUE(decoded);
    EXPECT_EQ(static_cast<int64_t>(decoded->width), value->intAt("width"));
    EXPECT_EQ(static_cast<int64_t>(decoded->height), value->intAt("height"));
    // Straight RGBA again premultiplied gives the capture's BGRA back, within rounding.
    auto bgra = value->bytesAt("bytes");
    ASSERT_TRUE(bgra);
    ASSERT_EQ((*bgra)->size(), decoded->rgba.size());
    size_t mismatches = 0;
    for (size_t i = 0; i < decoded->rgba.size(); i += 4) {
      const int a = decoded->rgba[i + 3];
      const int channels[3][2] = {{decoded->rgba[i], (**bgra)[i + 2]},
                                  {decoded->rgba[i + 1], (**bgra)[i + 1]},
                                  {decoded->rgba[i + 2], (**bgra)[i]}};
      if (a != (**bgra)[i + 3]) ++mismatches;
      for (const auto& [straight, premultiplied] : channels) {
        if (std::abs((straight * a + 127) / 255 - premultiplied) > 1) ++mismatches;
      }
    }
    EXPECT_EQ(mismatches, 0u);
  } else {
    EXPECT_EQ(status, 1);
    EXPECT_NE(err.find("error "), std::string::npos) << err;
  }

  // Another user's host is not there: no connection.
  std::string missing = dir_ + "/none.sock";
  pid_t pid = spawn({ctlBinary_, "--socket", missing, "call", "a", "b"}, dir_ + "/ctl.out",
                    dir_ + "/ctl.err");
  EXPECT_EQ(waitFor(pid, 30), 3);
}

}  // namespace
}  // namespace dravel::testing
