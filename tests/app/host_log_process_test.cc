// End-to-end: what dravel-host writes to its log, and that writing it never
// holds up the host.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <regex>
#include <sstream>

#include "channels/socket_client.h"
#include "channels/standard_codec.h"
#include "tests/support/host_fixture.h"
#include "tests/support/host_process.h"

namespace dravel::testing {
namespace {

using HostLog = HostProcessTest;

TEST_F(HostLog, AnErrorProvokedInALoopIsFoldedIntoACount) {
  start();
  auto client = connect();
  ASSERT_TRUE(client);
  constexpr int kCalls = 300;
  std::string error;
  for (int i = 1; i <= kCalls; ++i) {
    ASSERT_TRUE(client->sendFrame(FrameKind::kCall, i, "sim/desktop", Message({7, 200}), &error));
  }
  for (int i = 1; i <= kCalls; ++i) {
    auto frame = client->readFrame(&error, 20);
    ASSERT_TRUE(frame) << error;
    EXPECT_TRUE(isError(decodeReply(frame->payload), "bad_call", "size past the end at byte 2"));
  }
  client.reset();
  EXPECT_EQ(stopHost(), 0);

  // Every call is accounted for, in a handful of lines: the line itself, then
  // "... repeated N times" for the rest of each run.
  const std::string log = hostLog();
  std::istringstream lines(log);
  int told = 0, written = 0;
  const std::regex folded(R"(\[channels\] sim/desktop: undecodable call \(size past the end at )"
                          R"(byte 2\)( \.\.\. repeated ([0-9]+) times)?$)");
  for (std::string l; std::getline(lines, l);) {
    std::smatch m;
    if (!std::regex_search(l, m, folded)) continue;
    ++written;
    told += m[1].matched ? std::stoi(m[2]) : 1;
  }
  EXPECT_EQ(told, kCalls) << log;
  EXPECT_LE(written, 4) << log;
}

TEST_F(HostLog, AHostWhoseStandardErrorIsAFullPipeStillServesAndStops) {
  int pipeFds[2];
  ASSERT_EQ(::pipe2(pipeFds, O_CLOEXEC), 0);
  // Filled before the host starts; nobody reads it.
  ASSERT_EQ(::fcntl(pipeFds[1], F_SETFL, O_NONBLOCK), 0);
  std::vector<char> chunk(4096, 'x');
  while (::write(pipeFds[1], chunk.data(), chunk.size()) > 0) {
  }
  // The host's standard error is the pipe, opened afresh (blocking) by its path.
  pid_ = spawn(hostArgs(), "/dev/null", "/proc/self/fd/" + std::to_string(pipeFds[1]));
  ::close(pipeFds[1]);

  // It serves (its start-up lines are logged on the way) and answers calls
  // that each log an error.
  std::unique_ptr<SocketClient> client;
  ASSERT_TRUE(waitUntil([&] {
    std::string why;
    client = SocketClient::connect(socket_, &why);
    return client != nullptr;
  }));
  std::string error;
  for (int i = 0; i < 50; ++i) {
    auto reply =
        client->call("sim/desktop", Message({7, static_cast<uint8_t>(200 - i)}), &error, 20);
    ASSERT_TRUE(reply) << error;
    EXPECT_TRUE(isError(decodeReply(**reply), "bad_call", "size past the end at byte 2"));
  }
  client.reset();
  // And it stops cleanly on SIGTERM, the pipe still full.
  const int status = stopHost();
  ::close(pipeFds[0]);
  EXPECT_EQ(status, 0);
}

}  // namespace
}  // namespace dravel::testing
