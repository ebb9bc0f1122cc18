// What a capture of a real 2880 x 1800 X11 root costs, step by step, against a
// plain copy of the same 20,736,000 bytes from memory no cache holds:
//   X11/ColdMemcpy     the copy;
//   X11/ShmRead        the server writing the root into a kept MIT-SHM segment;
//   X11/XGetImage      the same through the socket, as remote displays must;
//   X11/XwdProcess     a whole `xwd -root` process, the command-line baseline;
//   X11/CaptureReady   the engine's screenshot service, from the request to the
//                      handler's image converted to premultiplied BGRA;
//   X11/CaptureRoundTrip  "captureScreen" through `dravel-host --platform x11`
//                      and its socket, decoded by the client;
//   X11/CopyPngAnswer  "copyPng" of the mixed screen's PNG (as `dravelctl
//                      screenshot` writes it) through the same host, until
//                      the client has the answer.
// The whole root is captured as one monitor: one covering it is added to the
// desktop when there is none. Run on the test desktop:
//   scripts/test-desktop run -- dravel_bench --benchmark_filter=X11
// Without a display the X11 benchmarks skip with an error.
#ifndef DRAVEL_HOST_BINARY_DEFAULT
#define DRAVEL_HOST_BINARY_DEFAULT "dravel-host"
#endif
#include <benchmark/benchmark.h>
#include <emmintrin.h>
#include <fcntl.h>
#include <signal.h>
#include <spawn.h>
#include <sys/ipc.h>
#include <sys/shm.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <future>
#include <memory>
#include <mutex>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "bench/bench_process.h"
#include "bench/mixed_screen.h"
#include "channels/socket_client.h"
#include "channels/standard_codec.h"
#include "platform/seam/graphics.h"
#include "platform/shared/png_encoder.h"
// X headers last: their macros (None, Status, Bool) clash with names above.
#include <X11/Xutil.h>
#include "host/capture_handler.h"
#include "platform/linux/x11/x11_screen_capture.h"
#include "platform/linux/x11/x11_connection.h"
#include "platform/linux/x11/x11_screens.h"

extern char** environ;

namespace {

using namespace dravel;
using namespace dravel::linux_platform;

constexpr int kWidth = 2880;
constexpr int kHeight = 1800;
constexpr size_t kPayload = size_t{kWidth} * kHeight * 4;  // 20,736,000
constexpr char kWholeMonitor[] = "BENCHWHOLE";

// Evicts a buffer from every cache level.
void flushFromCaches(const uint8_t* data, size_t size) {
  for (size_t i = 0; i < size; i += 64) _mm_clflush(data + i);
  _mm_mfence();
}

// The median time of a copy of the payload from a source evicted first.
double coldMemcpySeconds() {
  std::vector<uint8_t> from(kPayload, 0x5a);
  std::vector<uint8_t> to(kPayload, 0);
  std::vector<double> samples;
  for (int i = 0; i < 11; ++i) {
    flushFromCaches(from.data(), from.size());
    const auto start = std::chrono::steady_clock::now();
    std::memcpy(to.data(), from.data(), kPayload);
    benchmark::ClobberMemory();
    samples.push_back(
        std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count());
  }
  std::sort(samples.begin(), samples.end());
  return samples[samples.size() / 2];
}

double coldMemcpy() {
  static const double seconds = coldMemcpySeconds();
  return seconds;
}

double secondsSince(std::chrono::steady_clock::time_point start) {
  return std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
}

// Bytes a second, and the mean time of one iteration (`total` seconds over
// all of them) as a multiple of the cold copy.
void reportAgainstCopy(benchmark::State& state, double total) {
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * kPayload));
  if (state.iterations() == 0) return;
  state.counters["cold_memcpy_ms"] = coldMemcpy() * 1e3;
  state.counters["ratio_to_cold_memcpy"] =
      total / static_cast<double>(state.iterations()) / coldMemcpy();
}

bool runProgram(const std::vector<std::string>& argv) {
  std::vector<char*> args;
  for (const std::string& a : argv) args.push_back(const_cast<char*>(a.c_str()));
  args.push_back(nullptr);
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_addopen(&actions, 1, "/dev/null", O_WRONLY, 0);
  pid_t pid = 0;
  const int spawned = posix_spawnp(&pid, args[0], &actions, nullptr, args.data(), environ);
  posix_spawn_file_actions_destroy(&actions);
  if (spawned != 0) return false;
  int status = 0;
  while (waitpid(pid, &status, 0) < 0 && errno == EINTR) {
  }
  return WIFEXITED(status) && WEXITSTATUS(status) == 0;
}

// The benchmarks' own connection, opened on first use; null (after skipping
// the benchmark with the reason) when there is no display of the right size.
XConnection* connection(benchmark::State& state) {
  static std::string why;
  static std::unique_ptr<XConnection> opened = [] {
    const char* name = std::getenv("DISPLAY");
    if (!name || !*name) {
      why = "DISPLAY is not set: run under scripts/test-desktop run -- dravel_bench";
      return std::unique_ptr<XConnection>();
    }
    auto made = XConnection::open(nullptr, &why);
    if (made && (DisplayWidth(made->display(), 0) != kWidth ||
                 DisplayHeight(made->display(), 0) != kHeight)) {
      why = "the X screen is not 2880 x 1800";
      made.reset();
    }
    return made;
  }();
  if (!opened) state.SkipWithError(why.c_str());
  return opened.get();
}

// The id of a monitor covering the whole root, added when there is none.
uint32_t wholeMonitor(XConnection& x) {
  auto find = [&]() -> uint32_t {
    for (const MonitorPixels& m : readMonitors(x)) {
      if (m.x == 0 && m.y == 0 && m.width == kWidth && m.height == kHeight) return m.displayID;
    }
    return 0;
  };
  if (uint32_t id = find()) return id;
  runProgram({"xrandr", "--setmonitor", kWholeMonitor, "2880/762x1800/476+0+0", "none"});
  return find();
}

void BM_ColdMemcpy(benchmark::State& state) {
  std::vector<uint8_t> from(kPayload, 0x5a);
  std::vector<uint8_t> to(kPayload, 0);
  for (auto _ : state) {
    state.PauseTiming();
    flushFromCaches(from.data(), from.size());
    state.ResumeTiming();
    std::memcpy(to.data(), from.data(), kPayload);
    benchmark::ClobberMemory();
  }
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * kPayload));
}
BENCHMARK(BM_ColdMemcpy)->Name("X11/ColdMemcpy")->Unit(benchmark::kMillisecond)->UseRealTime();

void BM_ShmRead(benchmark::State& state) {
  XConnection* x = connection(state);
  if (!x) return;
  Display* display = x->display();
  XShmSegmentInfo segment{};
  XImage* image = XShmCreateImage(display, DefaultVisual(display, 0), DefaultDepth(display, 0),
                                  ZPixmap, nullptr, &segment, kWidth, kHeight);
  segment.shmid = shmget(IPC_PRIVATE, size_t(image->bytes_per_line) * kHeight, IPC_CREAT | 0600);
  segment.shmaddr = image->data = static_cast<char*>(shmat(segment.shmid, nullptr, 0));
  segment.readOnly = False;
  bool attached = false;
  {
    XErrorTrap trap(display);
    attached = XShmAttach(display, &segment) && !trap.sync();
  }
  shmctl(segment.shmid, IPC_RMID, nullptr);
  if (!attached) {
    state.SkipWithError("the server refused the shared-memory segment");
  } else {
    // The first read faults the segment's pages in; it is not what a kept
    // segment costs.
    XShmGetImage(display, x->root(), image, 0, 0, AllPlanes);
    for (auto _ : state) {
      if (!XShmGetImage(display, x->root(), image, 0, 0, AllPlanes)) {
        state.SkipWithError("XShmGetImage failed");
        break;
      }
      benchmark::DoNotOptimize(image->data);
    }
    XShmDetach(display, &segment);
    XSync(display, False);
  }
  image->data = nullptr;
  image->obdata = nullptr;
  XDestroyImage(image);
  shmdt(segment.shmaddr);
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * kPayload));
}
BENCHMARK(BM_ShmRead)->Name("X11/ShmRead")->Unit(benchmark::kMillisecond)->UseRealTime();

void BM_XGetImage(benchmark::State& state) {
  XConnection* x = connection(state);
  if (!x) return;
  for (auto _ : state) {
    XImage* image = XGetImage(x->display(), x->root(), 0, 0, kWidth, kHeight, AllPlanes, ZPixmap);
    if (!image) {
      state.SkipWithError("XGetImage failed");
      break;
    }
    benchmark::DoNotOptimize(image->data);
    XDestroyImage(image);
  }
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * kPayload));
}
BENCHMARK(BM_XGetImage)->Name("X11/XGetImage")->Unit(benchmark::kMillisecond)->UseRealTime();

void BM_XwdProcess(benchmark::State& state) {
  if (!connection(state)) return;
  for (auto _ : state) {
    if (!runProgram({"xwd", "-root", "-silent", "-out", "/dev/null"})) {
      state.SkipWithError("xwd failed");
      break;
    }
  }
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * kPayload));
}
BENCHMARK(BM_XwdProcess)->Name("X11/XwdProcess")->Unit(benchmark::kMillisecond)->UseRealTime();

void BM_CaptureReady(benchmark::State& state) {
  XConnection* x = connection(state);
  if (!x) return;
  const uint32_t whole = wholeMonitor(*x);
  if (!whole) {
    state.SkipWithError("no monitor covers the root and none could be added");
    return;
  }
  X11ScreenCapture engine("", *x, [x] { return DesktopLayout(readMonitors(*x), 1); });
  ContentFilter filter;
  filter.display.displayID = whole;
  StreamConfiguration configuration;
  configuration.width = kWidth;
  configuration.height = kHeight;
  configuration.showsCursor = false;
  auto captureOnce = [&](std::string* why) {
    std::promise<CapturedImagePtr> answered;
    engine.captureImage(filter, configuration,
                        [&](CapturedImagePtr image, std::optional<std::string> error) {
                          if (error) *why = *error;
                          answered.set_value(std::move(image));
                        });
    CapturedImagePtr image = answered.get_future().get();
    if (!image) return false;
    // What the host's handler makes of it: the reply's bytes.
    const PixelPayload payload = CaptureHandler::bgraBytes(image);
    const size_t size = payload.bytes ? payload.bytes->size() : 0;
    benchmark::DoNotOptimize(payload.bytes ? payload.bytes->data() : nullptr);
    if (size != kPayload) *why = "the image is not 2880 x 1800";
    return size == kPayload;
  };
  std::string why;
  if (!captureOnce(&why)) {
    state.SkipWithError(why.c_str());
    return;
  }
  double total = 0;
  for (auto _ : state) {
    const auto start = std::chrono::steady_clock::now();
    if (!captureOnce(&why)) {
      state.SkipWithError(why.c_str());
      break;
    }
    total += secondsSince(start);
  }
  reportAgainstCopy(state, total);
}
BENCHMARK(BM_CaptureReady)->Name("X11/CaptureReady")->Unit(benchmark::kMillisecond)->UseRealTime();

// A host on the X desktop; each benchmark starts one of its own, once, so
// that what it measures of the host's memory starts fresh.
std::unique_ptr<HostProcess> startHost() {
  return startHostProcess("x11", DRAVEL_HOST_BINARY_DEFAULT);
}

std::string roundTrip(SocketClient& client, uint32_t displayID) {
  return captureRoundTrip(client, displayID, kPayload);
}

// Quick calls made from a thread of their own while captures run: the
// longest any of them waited tells how long the host's main thread stood
// still (it answers every call). On a machine of few cores it also holds
// whatever the scheduler adds.
class MainThreadProbe {
 public:
  explicit MainThreadProbe(const std::string& socket) {
    std::string error;
    client_ = SocketClient::connect(socket, &error);
    if (!client_) return;
    thread_ = std::thread([this] {
      const Message ping = StandardMethodCodec::encodeMethodCall({"screenUnderCursor", Value()});
      while (!stop_.load()) {
        const auto start = std::chrono::steady_clock::now();
        std::string why;
        if (!client_->call("dravel/capture", ping, &why, 10)) break;
        const double ms = secondsSince(start) * 1e3;
        if (counting_.load()) {
          std::lock_guard<std::mutex> lock(mutex_);
          waitsMs_.push_back(ms);
        }
      }
    });
  }
  ~MainThreadProbe() {
    stop_ = true;
    if (thread_.joinable()) thread_.join();
  }
  // Only calls made while counting count (not those of the warm-up).
  void count(bool on) { counting_ = on; }
  // The wait below which `share` of the calls were answered (1: the longest).
  double waitMs(double share) {
    std::lock_guard<std::mutex> lock(mutex_);
    if (waitsMs_.empty()) return 0;
    std::vector<double> sorted = waitsMs_;
    std::sort(sorted.begin(), sorted.end());
    const auto at = static_cast<size_t>(share * static_cast<double>(sorted.size() - 1) + 0.5);
    return sorted[std::min(at, sorted.size() - 1)];
  }

 private:
  std::unique_ptr<SocketClient> client_;
  std::thread thread_;
  std::atomic<bool> stop_{false};
  std::atomic<bool> counting_{false};
  std::mutex mutex_;
  std::vector<double> waitsMs_;
};

void BM_CaptureRoundTrip(benchmark::State& state) {
  XConnection* x = connection(state);
  if (!x) return;
  // The whole-root monitor must exist before the host lists its screens.
  const uint32_t whole = wholeMonitor(*x);
  static std::unique_ptr<HostProcess> host = startHost();
  auto client = clientOf(*host, state);
  if (!client) return;
  // The host's peak memory over its first capture above the host before it,
  // measured once (the library runs this function more than once). It counts
  // the shared-memory segment the engine makes then and keeps (one payload),
  // and the image and reply buffers; later captures reuse what the
  // allocator kept of those, so they are measured from a fresh host.
  static long idleKb = -1;
  static long peakKb = -1;
  static long segmentKb = -1;
  if (idleKb < 0) {
    idleKb = statusKb(host->pid, "VmRSS");
    const bool reset = resetPeak(host->pid);
    if (std::string why = roundTrip(*client, whole); !why.empty()) {
      state.SkipWithError(why.c_str());
      return;
    }
    peakKb = reset ? statusKb(host->pid, "VmHWM") : -1;
    segmentKb = statusKb(host->pid, "RssShmem");
  }
  MainThreadProbe probe(host->socket);
  probe.count(true);
  double total = 0;
  for (auto _ : state) {
    const auto start = std::chrono::steady_clock::now();
    if (std::string why = roundTrip(*client, whole); !why.empty()) {
      state.SkipWithError(why.c_str());
      break;
    }
    total += secondsSince(start);
  }
  probe.count(false);
  reportAgainstCopy(state, total);
  state.counters["main_thread_longest_wait_ms"] = probe.waitMs(1);
  state.counters["main_thread_p99_wait_ms"] = probe.waitMs(0.99);
  state.counters["main_thread_median_wait_ms"] = probe.waitMs(0.5);
  if (idleKb > 0 && peakKb > 0) {
    state.counters["host_peak_over_payload"] =
        static_cast<double>(peakKb - idleKb) * 1024.0 / static_cast<double>(kPayload);
    // The same without the segment, which stays for later captures.
    if (segmentKb >= 0) {
      state.counters["host_peak_over_payload_besides_segment"] =
          static_cast<double>(peakKb - idleKb - segmentKb) * 1024.0 / static_cast<double>(kPayload);
    }
  }
}
BENCHMARK(BM_CaptureRoundTrip)
    ->Name("X11/CaptureRoundTrip")
    ->Unit(benchmark::kMillisecond)
    ->UseRealTime();

void BM_CopyPngAnswer(benchmark::State& state) {
  if (!connection(state)) return;
  static std::unique_ptr<HostProcess> host = startHost();
  auto client = clientOf(*host, state);
  if (!client) return;
  const std::vector<uint8_t> pixels = bench::mixedScreenBgra(kWidth, kHeight);
  const std::optional<std::vector<uint8_t>> png = encodePngBytes(
      {pixels.data(), kWidth, kHeight, size_t{kWidth} * 4, PngSourceLayout::kPremultipliedBgra});
  if (!png) {
    state.SkipWithError("the PNG could not be made");
    return;
  }
  ValueMap arguments;
  arguments.set("png", Value(*png));
  const Message call = StandardMethodCodec::encodeMethodCall({"copyPng", Value(arguments)});
  std::string error;
  for (auto _ : state) {
    auto reply = client->call("dravel/capture", call, &error, 60);
    if (!reply) {
      state.SkipWithError(error.c_str());
      break;
    }
    auto decoded = StandardMethodCodec::decodeEnvelope(*reply);
    auto* envelope = std::get_if<MethodEnvelope>(&decoded);
    if (!envelope || !std::holds_alternative<Value>(*envelope)) {
      state.SkipWithError("copyPng was not answered with success");
      break;
    }
  }
  state.counters["png_bytes"] = static_cast<double>(png->size());
}
BENCHMARK(BM_CopyPngAnswer)
    ->Name("X11/CopyPngAnswer")
    ->Unit(benchmark::kMillisecond)
    ->UseRealTime();

}  // namespace
