// dravelctl watch against a socket messenger in this process: the host's
// calls to the interface are printed, one JSON line each, and answered as
// not handled.
#include <gtest/gtest.h>
#include <sys/wait.h>
#include <unistd.h>

#include <filesystem>
#include <functional>
#include <optional>

#include "channels/socket_messenger.h"
#include "channels/standard_codec.h"
#include "tests/channels/socket_test_support.h"
#include "tests/support/host_process.h"

namespace dravel::testing {
namespace {

TEST(DravelctlWatch, PrintsTheHostsCallsAndAnswersThemNotHandled) {
  const std::string ctl = dravelctlBinary();
  ASSERT_FALSE(ctl.empty()) << "no dravelctl beside the host (DRAVEL_HOST_BINARY)";
  char dir[] = "/tmp/dravel-watch-XXXXXX";
  ASSERT_TRUE(::mkdtemp(dir));
  const std::string socket = std::string(dir) + "/host.sock";
  const std::string out = std::string(dir) + "/watch.out";

  PumpedContext context;
  auto pumpUntil = [&](const std::function<bool()>& done) { return context.pumpUntil(done, 20); };
  {
    SocketMessenger messenger(context.get());
    ASSERT_FALSE(messenger.listen(socket));
    pid_t pid = spawn({ctl, "--socket", socket, "watch"}, out, std::string(dir) + "/watch.err");
    ASSERT_TRUE(pumpUntil([&] { return messenger.connectionCount() == 1; }));

    std::optional<Message> answer;
    messenger.sendOnChannel(
        "dravel/notifications",
        StandardMethodCodec::encodeMethodCall({"clicked", Value(ValueMap{{"id", "shot-1"}})}),
        [&](Message m) { answer = std::move(m); });
    ASSERT_TRUE(pumpUntil([&] { return answer.has_value(); }));
    EXPECT_TRUE(answer->empty()) << "watching is not handling";
    // What it prints is checked against a real desktop's notification click.
    ASSERT_TRUE(pumpUntil([&] { return readFile(out).find("shot-1") != std::string::npos; }));

    // The host going away ends the watch normally.
    messenger.stop();
    int status = -1;
    bool ended = false;
    ASSERT_TRUE(pumpUntil([&] {
      if (!ended) ended = ::waitpid(pid, &status, WNOHANG) == pid;
      return ended;
    }));
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);
  }
  std::filesystem::remove_all(dir);
}

}  // namespace
}  // namespace dravel::testing
