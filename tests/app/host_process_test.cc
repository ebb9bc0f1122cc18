// End-to-end: the real dravel-host binary, driven over its socket.
#include <gtest/gtest.h>
#include <pwd.h>
#include <signal.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdlib>

#include "channels/socket_client.h"
#include "channels/standard_codec.h"
#include "tests/support/host_fixture.h"
#include "tests/support/host_process.h"

namespace dravel::testing {
namespace {

class HostProcess : public HostProcessTest {
 protected:
  // True when the host ends the connection without sending anything more.
  static bool endsWithoutReply(SocketClient& client) {
    std::string error;
    auto frame = client.readFrame(&error, 10);
    return !frame && error != "timed out";
  }
};

TEST_F(HostProcess, StartsLikeTheApplicationAndServesItsChannels) {
  start();
  EXPECT_TRUE(successValue(call("dravel/capture", "screenUnderCursor")).at("displayId"));
  EXPECT_TRUE(std::holds_alternative<FlutterMethodNotImplementedT>(call("no/such", "channel")));
  // The plugins' channels are registered before the first client is served.
  ASSERT_TRUE(logHas("[host] serving ")) << hostLog();
  const std::string log = hostLog();
  EXPECT_LT(log.find("[Sparkle] channel registered"), log.find("[host] serving ")) << log;
}

TEST_F(HostProcess, BadInputClosesOnlyThatConnection) {
  start();
  auto keep = connect();  // an innocent client, served throughout

  {  // A frame announcing more than the limit (the reader's other refusals: frame_test.cc).
    auto client = connect();
    std::vector<uint8_t> bytes = {0xff, 0xff, 0xff, 0x7f, 1};
    bytes.resize(kFrameHeaderSize, 0);
    std::string error;
    ASSERT_TRUE(client->sendBytes(bytes, &error));
    EXPECT_TRUE(endsWithoutReply(*client));
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

TEST_F(HostProcess, ASecondHostRefusesAndLeavesTheFirstServing) {
  start();
  EXPECT_EQ(run(hostArgs(), {}, 20), 1);
  EXPECT_NE(err_.find("another host is already serving " + socket_), std::string::npos) << err_;
  EXPECT_TRUE(isSuccess(call("dravel/capture", "hasPermission"), Value(true)));
}

TEST_F(HostProcess, RefusesConnectionsFromOtherUsers) {
  ASSERT_EQ(::geteuid(), 0u) << "acting as another user needs root, as the test desktops do";
  const passwd* nobody = ::getpwnam("nobody");
  ASSERT_NE(nobody, nullptr) << "no user nobody";
  start();
  // Open the file permissions, so that only the peer check stands in the way.
  ::chmod(dir_.c_str(), 0755);
  ::chmod((dir_ + "/run").c_str(), 0755);
  ::chmod(socket_.c_str(), 0666);

  pid_t child = ::fork();
  if (child == 0) {
    if (::setgid(nobody->pw_gid) != 0 || ::setuid(nobody->pw_uid) != 0) ::_exit(10);
    std::string error;
    // The client's own checks would refuse the host first: they are off, so
    // that it is the host that refuses.
    ConnectOptions options;
    options.trustOtherUsers = true;
    auto client = SocketClient::connect(socket_, &error, options);
    if (!client) ::_exit(11);
    auto reply =
        client->call("dravel/capture",
                     StandardMethodCodec::encodeMethodCall({"hasPermission", Value()}), &error, 10);
    ::_exit(reply ? 12 : 0);  // 0: the host closed without answering
  }
  EXPECT_EQ(waitFor(child, 30), 0);
  EXPECT_TRUE(logHas("refused a connection from uid " + std::to_string(nobody->pw_uid)))
      << hostLog();
  EXPECT_TRUE(isSuccess(call("dravel/capture", "hasPermission"), Value(true)));
}

TEST_F(HostProcess, DravelctlCallsPrintsAndReportsErrors) {
  ASSERT_FALSE(ctlBinary_.empty()) << "no dravelctl beside the host";
  // One screen of a known display id.
  start({"--scenario", writeScenario(R"({"screens": [{"frame": [0, 0, 160, 100], "scale": 2.0,
                                                      "displayId": 1}],
                                        "mainScreen": 0, "pointer": [80, 50]})")});
  std::string out, err;
  EXPECT_EQ(ctl({"call", "dravel/capture", "screenUnderCursor"}, &out, &err), 0) << err;
  EXPECT_NE(out.find("\"displayId\": 1"), std::string::npos) << out;

  EXPECT_EQ(
      ctl({"call", "sim/desktop", "load", R"({"process": {"pid": {"$double": 1}}})"}, &out, &err),
      1);
  EXPECT_NE(err.find("error bad_scenario: process: pid"), std::string::npos) << err;
  EXPECT_EQ(ctl({"call", "sim/desktop", "load",
                 std::string("@").append(writeScenario(R"({"pointer": [80, 50]})"))},
                &out, &err),
            0)
      << err;
  EXPECT_EQ(out, "null\n");
  EXPECT_EQ(ctl({"call", "dravel/capture", "noSuchMethod"}, &out, &err), 1);
  EXPECT_EQ(ctl({"call", "sim/desktop", "load", "{not json"}, &out, &err), 2);
}

}  // namespace
}  // namespace dravel::testing
