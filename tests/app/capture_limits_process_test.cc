// End-to-end limits of a running dravel-host: an image bomb answered at once
// while another copy decodes, a capture the process has no memory for, and a
// SIGTERM while a long rendering runs.
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdlib>
#include <cstring>
#include <sstream>
#include <string>

#include "channels/standard_codec.h"
#include "tests/platform/scoped_env.h"
#include "tests/support/host_fixture.h"
#include "tests/support/host_process.h"
#include "tests/support/png_maker.h"
#include "tests/support/proc_status.h"

namespace dravel::testing {
namespace {

#if defined(__SANITIZE_ADDRESS__)
constexpr bool kSanitized = true;
#else
constexpr bool kSanitized = false;
#endif

class CaptureLimitsProcess : public HostProcessTest {
 protected:
  void sigtermDuringALongRendering(bool legacy);
};

TEST_F(CaptureLimitsProcess, AnImageBombIsRefusedAtOnceWhileAnotherCopyDecodes) {
  start();
  if (HasFatalFailure()) return;
  const ByteBuffer bomb = pngDeclaring(16384, 16384);

  // While a large, legitimate copy decodes for one client, another client's
  // bomb (1 GiB of pixels declared) is answered, and the large copy only after it.
  auto slow = connect();
  auto other = connect();
  ASSERT_TRUE(slow && other);
  std::string error;
  const long residentBefore = procStatusKb("VmRSS", pid_);
  const Value large = ValueMap{{"png", Value(uniformPng(6000, 6000, 5))}};
  ASSERT_TRUE(slow->sendFrame(FrameKind::kCall, 7, "dravel/capture",
                              StandardMethodCodec::encodeMethodCall({"copyPng", large}), &error))
      << error;
  EXPECT_TRUE(isError(call(*other, "dravel/capture", "copyPng", ValueMap{{"png", Value(bomb)}}),
                      "bad_png"));
  EXPECT_TRUE(isSuccess(call(*other, "dravel/capture", "hasPermission"), Value(true)));
  EXPECT_FALSE(slow->readFrame(&error, 0)) << "the large copy was answered first";
  std::optional<Frame> reply = slow->readFrame(&error, 60);
  ASSERT_TRUE(reply) << error;
  EXPECT_EQ(reply->requestId, 7u);
  EXPECT_TRUE(isSuccess(decodeReply(reply->payload), Value()));
  // Afterwards the host keeps what the clipboard holds (the TIFF of
  // 6000 x 6000 x 4 bytes and the small PNG), not the decode's buffers. (The
  // sanitizer's allocator holds freed memory in quarantine on purpose.)
  if (!kSanitized) {
    const long clipboardKb = 6000L * 6000 * 4 / 1024;
    EXPECT_LT(procStatusKb("VmRSS", pid_) - residentBefore, clipboardKb + 64 * 1024);
  }
  // And it ends cleanly (under the sanitizers: without leaks).
  EXPECT_EQ(stopHost(), 0) << hostLog();
}

TEST_F(CaptureLimitsProcess, ACaptureWithoutMemoryForItFailsAndTheHostGoesOn) {
  // A 7000 x 7000 screen: 196 MB of pixels, below the frame limit.
  const std::string scenario =
      R"({"screens": [{"frame": [0, 0, 7000, 7000], "scale": 1, "displayId": 1}]})";
  {
    // The sanitizer's allocator cannot run under an address-space limit; it
    // fails large allocations itself instead.
    const char* old = std::getenv("ASAN_OPTIONS");
    const std::string limited = std::string(old && *old ? old + std::string(":") : "") +
                                "allocator_may_return_null=1:max_allocation_size_mb=64";
    std::optional<ScopedEnv> asan;
    if (kSanitized) asan.emplace("ASAN_OPTIONS", limited.c_str());
    startOnScenario(scenario);
  }
  if (HasFatalFailure()) return;
  if (!kSanitized) {
    // With memory to spare the capture is made. It also gives the engine's
    // thread its own allocator arena: a thread's first allocation reserves
    // 64 MiB, which under the limit would fail where no program could help it.
    auto made = call("dravel/capture", "captureScreen", ValueMap{{"displayId", 1}});
    ASSERT_TRUE(std::holds_alternative<Value>(made)) << hostLog();
    EXPECT_EQ(successValue(made).intAt("width"), std::optional<int64_t>(7000));
    // What the host has mapped now, and 128 MiB more: room for the small
    // allocations of a call, none for the screen's pixels.
    const long mappedKb = procStatusKb("VmSize", pid_);
    ASSERT_GT(mappedKb, 0);
    const rlim_t limit = static_cast<rlim_t>(mappedKb + 128 * 1024) * 1024;
    const rlimit bounded{limit, limit};
    ASSERT_EQ(::prlimit(pid_, RLIMIT_AS, &bounded, nullptr), 0) << std::strerror(errno);
  }
  for (int attempt = 0; attempt < 2; ++attempt) {
    auto reply = call("dravel/capture", "captureScreen", ValueMap{{"displayId", 1}});
    auto* failed = std::get_if<FlutterError>(&reply);
    ASSERT_TRUE(failed) << "attempt " << attempt << "\n" << hostLog();
    EXPECT_EQ(failed->code, "capture_failed") << hostLog();
    EXPECT_FALSE(failed->message.value_or("").empty());
    EXPECT_TRUE(isSuccess(call("dravel/capture", "hasPermission"), Value(true)));
  }
  int status = 0;
  ASSERT_EQ(::waitpid(pid_, &status, WNOHANG), 0)
      << "the host ended (" << (WIFSIGNALED(status) ? "signal " : "status ")
      << (WIFSIGNALED(status) ? WTERMSIG(status) : WEXITSTATUS(status)) << ")\n"
      << hostLog();
  EXPECT_EQ(stopHost(), 0) << hostLog();
}

// `legacy`: the window server's route, which draws on the main thread.
void CaptureLimitsProcess::sigtermDuringALongRendering(bool legacy) {
  // An 8000 x 8000 screen (just under the frame limit) under a thousand
  // translucent windows: drawing it takes many minutes, far longer than the
  // host is given below to exit.
  std::ostringstream scenario;
  scenario << R"({"screens": [{"frame": [0, 0, 8000, 8000], "scale": 1, "displayId": 1}],)"
           << R"("windows": [)";
  for (int i = 0; i < 1000; ++i) {
    scenario << (i ? "," : "") << R"({"kCGWindowLayer": 0, "kCGWindowOwnerPID": )" << 900 + i
             << R"(, "kCGWindowAlpha": 0.5, "kCGWindowBounds": {"X": )" << i % 100
             << R"(, "Y": 0, "Width": 7900, "Height": 7900}})";
  }
  scenario << "]";
  if (legacy) scenario << R"(, "osVersion": [13, 0, 0])";
  scenario << "}";
  startOnScenario(scenario.str());
  if (HasFatalFailure()) return;

  const long idleKb = procStatusKb("VmRSS", pid_);
  auto client = connect();
  ASSERT_TRUE(client);
  std::string error;
  ASSERT_TRUE(client->sendFrame(
      FrameKind::kCall, 1, "dravel/capture",
      StandardMethodCodec::encodeMethodCall({"captureScreen", ValueMap{{"displayId", 1}}}),
      &error));
  // The drawing begins once the image's 256 MB are taken and cleared.
  ASSERT_TRUE(waitUntil([&] { return procStatusKb("VmRSS", pid_) - idleKb > 200 * 1024; }, 60))
      << hostLog();
  ASSERT_EQ(::kill(pid_, SIGTERM), 0);
  const int status = waitFor(pid_, 30);
  if (status >= 0) pid_ = -1;  // else the fixture kills it
  EXPECT_EQ(status, 0) << "the host waited for the drawing\n" << hostLog();
  EXPECT_NE(::access(socket_.c_str(), F_OK), 0) << "the socket was left behind";
}

TEST_F(CaptureLimitsProcess, SigtermDuringALongRenderingEndsTheHostPromptly) {
  sigtermDuringALongRendering(false);
}

TEST_F(CaptureLimitsProcess, SigtermDuringALongRenderingOnTheMainThreadEndsTheHostPromptly) {
  sigtermDuringALongRendering(true);
}

}  // namespace
}  // namespace dravel::testing
