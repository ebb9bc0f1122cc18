// End-to-end: a running dravel-host among clients that misbehave at once
// (one that asks for captures and never reads them, one that stops in the
// middle of a large frame) keeps answering a well-behaved client,
// holds a bounded amount of memory, and still stops cleanly.
#include <gtest/gtest.h>
#include <unistd.h>

#include <string>
#include <vector>

#include "channels/frame.h"
#include "channels/socket_client.h"
#include "channels/standard_codec.h"
#include "tests/support/host_fixture.h"
#include "tests/support/host_process.h"
#include "tests/support/proc_status.h"

namespace dravel::testing {
namespace {

class HostileClientsProcess : public HostProcessTest {
 protected:
  size_t captureRequests() {
    const Value capture = state("capture");
    const Value* requests = capture.at("requests");
    const ValueList* list = requests ? requests->asList() : nullptr;
    return list ? list->size() : 0;
  }

  void expectAnswering() {
    EXPECT_TRUE(isSuccess(call("dravel/capture", "hasPermission"), Value(true))) << hostLog();
  }
};

TEST_F(HostileClientsProcess, MisbehavingClientsLeaveTheHostAnsweringWithinBoundedMemory) {
  // One 1920 x 1080 screen: every capture reply is about 8 MB.
  startOnScenario(R"({"screens": [{"frame": [0, 0, 1920, 1080], "scale": 1, "displayId": 1}]})");
  if (HasFatalFailure()) return;
  expectAnswering();
  const long baseKb = procStatusKb("VmRSS", pid_);
  ASSERT_GT(baseKb, 0);
  std::string error;

  // A client that stops a few bytes into a frame announcing 200 MiB.
  auto stalled = connect();
  ASSERT_TRUE(stalled);
  const std::string channel = "dravel/capture";
  std::vector<uint8_t> part = encodeFrameHeader(FrameKind::kCall, 1, channel, 200 << 20);
  part.insert(part.end(), channel.begin(), channel.end());
  part.resize(part.size() + 1024, 0);
  ASSERT_TRUE(stalled->sendBytes(part, &error)) << error;

  // A client that pipelines captures and never reads what comes back.
  constexpr int kPipelined = 80;
  auto greedy = connect();
  ASSERT_TRUE(greedy);
  const Message capture = StandardMethodCodec::encodeMethodCall({"captureScreen", ValueMap{}});
  for (int i = 1; i <= kPipelined; ++i) {
    ASSERT_TRUE(greedy->sendFrame(FrameKind::kCall, static_cast<uint64_t>(i), "dravel/capture",
                                  capture, &error))
        << error;
  }

  // The host stops taking the greedy client's calls while their replies wait,
  // and meanwhile answers everybody else.
  size_t taken = 0;
  ASSERT_TRUE(waitUntil([&] {
    const size_t before = captureRequests();
    usleep(300 * 1000);
    taken = captureRequests();
    return taken > 0 && taken == before;
  })) << hostLog();
  EXPECT_LT(taken, static_cast<size_t>(kPipelined)) << "every pipelined capture was taken";
  // Two requests a capture: bounded by their size, not by the 16 calls' count.
  EXPECT_LT(taken, 2u * 16) << "captures were taken by count, not by their size";
  expectAnswering();
  auto geometry = call("dravel/capture", "screenUnderCursor");
  EXPECT_TRUE(std::holds_alternative<Value>(geometry));

  // Without the bounds the host would hold every reply (80 x 8 MB) and the
  // announced 200 MiB frame.
  const long grownKb = procStatusKb("VmRSS", pid_) - baseKb;
  EXPECT_LT(grownKb, 400 * 1024) << "the host grew by " << grownKb << " kB";

  // Once the greedy client reads, every capture is answered exactly once. The
  // calls still unread find a screen of a few pixels: quick to capture.
  EXPECT_TRUE(isSuccess(
      call("sim/desktop", "load",
           ValueMap{{"screens",
                     ValueList{ValueMap{
                         {"frame", ValueList{0, 0, 8, 8}}, {"scale", 1}, {"displayId", 1}}}}}),
      Value()));
  std::vector<int> answers(kPipelined + 1, 0);
  for (int i = 0; i < kPipelined; ++i) {
    auto frame = greedy->readFrame(&error, 60);
    ASSERT_TRUE(frame) << error << "\n" << hostLog();
    ASSERT_GE(frame->requestId, 1u);
    ASSERT_LE(frame->requestId, static_cast<uint64_t>(kPipelined));
    ++answers[frame->requestId];
  }
  for (int i = 1; i <= kPipelined; ++i) EXPECT_EQ(answers[i], 1) << "request " << i;

  // The stalled client is still connected (its idle time has not run out) and
  // the host stops cleanly, removing its socket.
  expectAnswering();
  EXPECT_EQ(stopHost(), 0) << hostLog();
  EXPECT_NE(::access(socket_.c_str(), F_OK), 0) << "the socket was left behind";
}

}  // namespace
}  // namespace dravel::testing
