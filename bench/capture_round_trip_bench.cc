// One full-screen "captureScreen" of a 2880 x 1800 simulated screen, round
// trip over the host socket (the host's conversion, encoding and writing, the
// transfer, the client's reading and decoding), against a plain memcpy of the
// same 20,736,000 bytes. Reports the ratio and the host's peak resident memory
// during a capture above its idle size, as a multiple of the payload.
//
// Targets: the round trip within 6 x memcpy; the peak under 2.2 x the payload
// (the captured image and the converted buffer, and no further copy).
//
// The host binary is DRAVEL_HOST_BINARY, else the one built alongside.
#ifndef DRAVEL_HOST_BINARY_DEFAULT
#define DRAVEL_HOST_BINARY_DEFAULT "dravel-host"
#endif
#include <benchmark/benchmark.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <memory>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "bench/bench_process.h"
#include "channels/socket_client.h"
#include "channels/socket_messenger.h"
#include "channels/standard_codec.h"

namespace {

using namespace dravel;

constexpr int kPixelWidth = 2880;
constexpr int kPixelHeight = 1800;
constexpr size_t kPayload = size_t{kPixelWidth} * kPixelHeight * 4;  // 20,736,000

// The host process under test, started once for all benchmarks.
struct Host {
  pid_t pid = -1;
  std::string dir;
  std::string socket;
  std::string startError;
};

void stopHost();

void startHost(Host& h) {
  const char* binary = std::getenv("DRAVEL_HOST_BINARY");
  std::string path = binary ? binary : DRAVEL_HOST_BINARY_DEFAULT;
  char dir[] = "/tmp/dravel-bench-XXXXXX";
  if (!::mkdtemp(dir)) {
    h.startError = "mkdtemp failed";
    return;
  }
  h.dir = dir;
  h.socket = h.dir + "/host.sock";
  const std::string scenario = h.dir + "/scenario.json";
  // One 1440 x 900 point screen at scale 2: 2880 x 1800 pixels.
  std::ofstream(scenario)
      << R"({"screens": [{"frame": [0, 0, 1440, 900], "scale": 2.0, "displayId": 1}],
    "mainScreen": 0, "pointer": [720, 450], "windows": [], "permissions": {"screenRecording": true}})";
  const std::string log = h.dir + "/host.log";
  h.pid = ::fork();
  if (h.pid == 0) {
    std::FILE* err = std::freopen(log.c_str(), "w", stderr);
    (void)err;
    ::execl(path.c_str(), path.c_str(), "--socket", h.socket.c_str(), "--scenario",
            scenario.c_str(), static_cast<char*>(nullptr));
    ::_exit(127);
  }
  auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(20);
  while (std::chrono::steady_clock::now() < deadline) {
    std::string error;
    if (SocketClient::connect(h.socket, &error)) return;
    int status = 0;
    if (::waitpid(h.pid, &status, WNOHANG) == h.pid) {
      h.pid = -1;
      break;
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(5));
  }
  std::ifstream in(log);
  std::stringstream text;
  text << in.rdbuf();
  h.startError = "dravel-host (" + path + ") did not start: " + text.str();
}

// Started on first use, stopped when the benchmark program exits.
Host& host() {
  static Host* h = [] {
    auto* started = new Host;
    startHost(*started);
    std::atexit(stopHost);
    return started;
  }();
  return *h;
}

void stopHost() {
  Host& h = host();
  if (h.pid > 0) {
    ::kill(h.pid, SIGTERM);
    int status = 0;
    ::waitpid(h.pid, &status, 0);
  }
  if (!h.dir.empty()) std::filesystem::remove_all(h.dir);
}

// One round trip; the error text when the capture did not come back whole.
std::string captureOnce(SocketClient& client) {
  ValueMap arguments;
  arguments.set("displayId", Value(1));
  std::string error;
  auto reply = client.call(
      "dravel/capture", StandardMethodCodec::encodeMethodCall({"captureScreen", Value(arguments)}),
      &error, 60);
  if (!reply) return "no reply: " + error;
  if ((*reply)->empty()) return "captureScreen is not implemented";
  auto decoded = StandardMethodCodec::decodeEnvelope(*reply);
  if (auto* bad = std::get_if<DecodeError>(&decoded)) return "undecodable reply: " + bad->what;
  auto& envelope = std::get<MethodEnvelope>(decoded);
  if (auto* failure = std::get_if<FlutterError>(&envelope)) {
    return "captureScreen answered " + failure->code + ": " + failure->message.value_or("") +
           " (can the simulated desktop capture in this build?)";
  }
  auto bytes = std::get<Value>(envelope).bytesAt("bytes");
  if (!bytes || (*bytes)->size() != kPayload) return "the reply has no 2880 x 1800 payload";
  benchmark::DoNotOptimize((*bytes)->data());
  return {};
}

double secondsSince(std::chrono::steady_clock::time_point start) {
  return std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
}

// Median time of a plain copy of the payload between two touched buffers.
double memcpySeconds() {
  std::vector<uint8_t> from(kPayload, 0x5a);
  std::vector<uint8_t> to(kPayload, 0);
  std::vector<double> samples;
  for (int i = 0; i < 15; ++i) {
    auto start = std::chrono::steady_clock::now();
    std::memcpy(to.data(), from.data(), kPayload);
    benchmark::ClobberMemory();
    samples.push_back(secondsSince(start));
  }
  std::sort(samples.begin(), samples.end());
  return samples[samples.size() / 2];
}

void BM_MemcpyPayload(benchmark::State& state) {
  std::vector<uint8_t> from(kPayload, 0x5a);
  std::vector<uint8_t> to(kPayload, 0);
  for (auto _ : state) {
    std::memcpy(to.data(), from.data(), kPayload);
    benchmark::ClobberMemory();
  }
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * kPayload));
}
BENCHMARK(BM_MemcpyPayload)->Unit(benchmark::kMillisecond);

void BM_CaptureRoundTrip(benchmark::State& state) {
  Host& h = host();
  if (!h.startError.empty()) {
    state.SkipWithError(h.startError.c_str());
    return;
  }
  std::string error;
  auto client = SocketClient::connect(h.socket, &error);
  if (!client) {
    state.SkipWithError(error.c_str());
    return;
  }

  // Peak memory of the first capture above the idle host. Measured once: the
  // library runs this function more than once, and the host's allocator may
  // keep the memory of earlier captures.
  struct Peak {
    long idleKb = -1;
    long peakKb = -1;
  };
  static Peak peak;
  static bool measured = false;
  if (!measured) {
    measured = true;
    peak.idleKb = statusKb(h.pid, "VmRSS");
    const bool reset = resetPeak(h.pid);
    if (std::string why = captureOnce(*client); !why.empty()) {
      state.SkipWithError(why.c_str());
      return;
    }
    peak.peakKb = reset ? statusKb(h.pid, "VmHWM") : -1;
  }
  const long idleKb = peak.idleKb;
  const long peakKb = peak.peakKb;
  const bool peakReset = peakKb > 0;

  const double copy = memcpySeconds();
  double total = 0;
  for (auto _ : state) {
    auto start = std::chrono::steady_clock::now();
    if (std::string why = captureOnce(*client); !why.empty()) {
      state.SkipWithError(why.c_str());
      return;
    }
    total += secondsSince(start);
  }
  const double mean = total / static_cast<double>(state.iterations());
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * kPayload));
  state.counters["memcpy_ms"] = copy * 1e3;
  state.counters["ratio_to_memcpy"] = mean / copy;
  if (peakReset && idleKb > 0 && peakKb > 0) {
    state.counters["host_idle_MB"] = static_cast<double>(idleKb) / 1024.0;
    state.counters["host_peak_over_payload"] =
        static_cast<double>(peakKb - idleKb) * 1024.0 / static_cast<double>(kPayload);
  }
}
BENCHMARK(BM_CaptureRoundTrip)->Unit(benchmark::kMillisecond)->MinTime(2.0);

// The transport alone: an in-process socket messenger on its own thread
// answers with a ready 20,736,000-byte buffer, encoded by the standard codec
// and written with no copy; the client reads and decodes it. What the socket
// adds to a capture, apart from the capture itself.
void BM_SocketTransportRoundTrip(benchmark::State& state) {
  char dir[] = "/tmp/dravel-bench-XXXXXX";
  if (!::mkdtemp(dir)) {
    state.SkipWithError("mkdtemp failed");
    return;
  }
  const std::string path = std::string(dir) + "/transport.sock";
  auto pixels = std::make_shared<const ByteBuffer>(kPayload, 0x7f);
  GMainContext* context = g_main_context_new();
  std::atomic<int> phase{0};  // 1 serving, 2 stop requested
  std::string listenError;
  std::thread server([&] {
    g_main_context_push_thread_default(context);
    {
      SocketMessenger messenger(context);
      if (auto why = messenger.listen(path)) listenError = *why;
      messenger.setMessageHandlerOnChannel(
          "dravel/capture", [&](std::span<const uint8_t>, FlutterBinaryReply reply) {
            ValueMap result;
            result.set("width", Value(kPixelWidth));
            result.set("height", Value(kPixelHeight));
            result.set("bytes", Value(Bytes(pixels)));
            reply(StandardMethodCodec::encodeSuccessEnvelope(Value(std::move(result))));
          });
      phase = 1;
      while (phase.load() == 1) g_main_context_iteration(context, TRUE);
    }
    g_main_context_pop_thread_default(context);
  });
  while (phase.load() == 0) std::this_thread::yield();

  std::string error;
  auto client = listenError.empty() ? SocketClient::connect(path, &error) : nullptr;
  if (!client) {
    state.SkipWithError((listenError + error).c_str());
  } else {
    const double copy = memcpySeconds();
    double total = 0;
    for (auto _ : state) {
      auto start = std::chrono::steady_clock::now();
      if (std::string why = captureOnce(*client); !why.empty()) {
        state.SkipWithError(why.c_str());
        break;
      }
      total += secondsSince(start);
    }
    if (state.iterations() > 0) {
      state.counters["ratio_to_memcpy"] = total / static_cast<double>(state.iterations()) / copy;
    }
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * kPayload));
  }
  client.reset();
  phase = 2;
  g_main_context_wakeup(context);
  server.join();
  g_main_context_unref(context);
  std::filesystem::remove_all(dir);
}
BENCHMARK(BM_SocketTransportRoundTrip)->Unit(benchmark::kMillisecond)->MinTime(1.0);

}  // namespace
