// What a capture costs on a Wayland session, against the session's own tools:
//   Wayland/CaptureRoundTrip  "captureScreen" of the primary monitor through
//                      `dravel-host --platform wayland` and its socket, warm
//                      (the host started and one capture made first);
//   Wayland/FirstCapture      a fresh host's first capture, start-up and the
//                      route's set-up included (a portal's session where the
//                      route needs one);
//   Wayland/GrimProcess       a whole `grim -o OUTPUT -t ppm` process for the
//                      same monitor (sway and its kin only);
//   Wayland/ScreenshotPortal  the desktop portal's own non-interactive
//                      Screenshot of the whole layout, its file removed (where
//                      the portal offers it without a dialog).
// DRAVEL_BENCH_DISPLAY=ID captures that display instead of the one under the
// pointer (on GNOME, the monitor a stored screen-cast grant covers).
// Run on a Wayland test desktop:
//   scripts/test-desktop run --wayland sway -- dravel_bench --benchmark_filter=Wayland
//   scripts/test-desktop run --wayland gnome --seed-screencast-token UUID
//     --seed-screenshot-permission -- env DRAVEL_BENCH_DISPLAY=2 dravel_bench ...
// Without a Wayland session the benchmarks skip with an error.
#ifndef DRAVEL_HOST_BINARY_DEFAULT
#define DRAVEL_HOST_BINARY_DEFAULT "dravel-host"
#endif
#include <benchmark/benchmark.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <memory>
#include <nlohmann/json.hpp>
#include <string>

#include "bench/bench_process.h"
#include "channels/socket_client.h"
#include "channels/standard_codec.h"
#include "platform/linux/wayland/capture/portal_capture_routes.h"

namespace {

using namespace dravel;

double secondsSince(std::chrono::steady_clock::time_point start) {
  return std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
}

bool waylandSession(benchmark::State& state) {
  const char* name = std::getenv("WAYLAND_DISPLAY");
  if (name && *name) return true;
  state.SkipWithError("WAYLAND_DISPLAY is not set: run under scripts/test-desktop run --wayland");
  return false;
}

// What a command prints on its standard output; empty when it fails.
std::string output(const std::string& command) {
  std::string text;
  FILE* pipe = popen(command.c_str(), "r");
  if (!pipe) return text;
  char chunk[4096];
  size_t n = 0;
  while ((n = std::fread(chunk, 1, sizeof chunk, pipe)) > 0) text.append(chunk, n);
  return pclose(pipe) == 0 ? text : std::string();
}

struct Primary {
  uint32_t displayID = 0;
  int64_t width = 0;
  int64_t height = 0;
  double scale = 1;
  std::string error;
};

// The host's primary monitor: the screen under the pointer where Wayland
// tells no pointer position.
Primary primaryOf(SocketClient& client) {
  Primary p;
  std::string error;
  auto reply = client.call("dravel/capture",
                           StandardMethodCodec::encodeMethodCall({"screenUnderCursor", Value()}),
                           &error, 10);
  if (!reply) {
    p.error = "no reply to screenUnderCursor: " + error;
    return p;
  }
  auto decoded = StandardMethodCodec::decodeEnvelope(*reply);
  auto* envelope = std::get_if<MethodEnvelope>(&decoded);
  const Value* value = envelope ? std::get_if<Value>(envelope) : nullptr;
  if (!value || !value->intAt("displayId")) {
    p.error = "screenUnderCursor answered no screen";
    return p;
  }
  p.displayID = static_cast<uint32_t>(*value->intAt("displayId"));
  p.width = static_cast<int64_t>(value->doubleAt("screenW").value_or(0));
  p.height = static_cast<int64_t>(value->doubleAt("screenH").value_or(0));
  p.scale = value->doubleAt("scale").value_or(1);
  if (const char* chosen = std::getenv("DRAVEL_BENCH_DISPLAY"); chosen && *chosen) {
    // Another display: its size is not known here, so any payload counts.
    p.displayID = static_cast<uint32_t>(std::strtoul(chosen, nullptr, 10));
    p.width = 0;
    p.height = 0;
  }
  return p;
}

size_t payloadOf(const Primary& p) {
  const auto s = static_cast<int64_t>(p.scale);
  return static_cast<size_t>(p.width * s) * static_cast<size_t>(p.height * s) * 4;
}

void BM_CaptureRoundTrip(benchmark::State& state) {
  if (!waylandSession(state)) return;
  static std::unique_ptr<HostProcess> host =
      startHostProcess("wayland", DRAVEL_HOST_BINARY_DEFAULT);
  auto client = clientOf(*host, state);
  if (!client) return;
  const Primary primary = primaryOf(*client);
  if (!primary.error.empty()) {
    state.SkipWithError(primary.error.c_str());
    return;
  }
  const size_t payload = payloadOf(primary);
  if (std::string why = captureRoundTrip(*client, primary.displayID, payload); !why.empty()) {
    state.SkipWithError(why.c_str());
    return;
  }
  for (auto _ : state) {
    if (std::string why = captureRoundTrip(*client, primary.displayID, payload); !why.empty()) {
      state.SkipWithError(why.c_str());
      break;
    }
  }
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * payload));
  state.counters["native_width"] = static_cast<double>(primary.width) * primary.scale;
  state.counters["native_height"] = static_cast<double>(primary.height) * primary.scale;
}
BENCHMARK(BM_CaptureRoundTrip)
    ->Name("Wayland/CaptureRoundTrip")
    ->Unit(benchmark::kMillisecond)
    ->UseRealTime();

void BM_FirstCapture(benchmark::State& state) {
  if (!waylandSession(state)) return;
  for (auto _ : state) {
    const auto start = std::chrono::steady_clock::now();
    auto host = startHostProcess("wayland", DRAVEL_HOST_BINARY_DEFAULT);
    if (!host->startError.empty()) {
      state.SkipWithError(host->startError.c_str());
      break;
    }
    std::string error;
    auto client = SocketClient::connect(host->socket, &error);
    const Primary primary = client ? primaryOf(*client) : Primary{0, 0, 0, 1, error};
    std::string why = primary.error;
    if (why.empty()) why = captureRoundTrip(*client, primary.displayID, payloadOf(primary));
    state.SetIterationTime(secondsSince(start));
    if (!why.empty()) {
      state.SkipWithError(why.c_str());
      break;
    }
  }
}
BENCHMARK(BM_FirstCapture)
    ->Name("Wayland/FirstCapture")
    ->Unit(benchmark::kMillisecond)
    ->UseManualTime()
    ->Iterations(5);

void BM_GrimProcess(benchmark::State& state) {
  if (!waylandSession(state)) return;
  if (!std::getenv("SWAYSOCK")) {
    state.SkipWithError("grim needs a wlroots compositor (SWAYSOCK is not set)");
    return;
  }
  static std::unique_ptr<HostProcess> host =
      startHostProcess("wayland", DRAVEL_HOST_BINARY_DEFAULT);
  std::string error;
  auto client = host->startError.empty() ? SocketClient::connect(host->socket, &error) : nullptr;
  if (!client) {
    state.SkipWithError(host->startError.empty() ? error.c_str() : host->startError.c_str());
    return;
  }
  const Primary primary = primaryOf(*client);
  if (!primary.error.empty()) {
    state.SkipWithError(primary.error.c_str());
    return;
  }
  // The output of the same logical size and scale as the host's primary.
  std::string name;
  const auto outputs = nlohmann::json::parse(output("swaymsg -r -t get_outputs"), nullptr, false);
  if (outputs.is_array()) {
    for (const auto& o : outputs) {
      if (o.value("active", false) && o["rect"].value("width", 0) == primary.width &&
          o["rect"].value("height", 0) == primary.height &&
          o.value("scale", 0.0) == primary.scale) {
        name = o.value("name", "");
        break;
      }
    }
  }
  if (name.empty()) {
    state.SkipWithError("swaymsg lists no output like the host's primary monitor");
    return;
  }
  const std::string command = "grim -o '" + name + "' -t ppm - >/dev/null";
  for (auto _ : state) {
    if (std::system(command.c_str()) != 0) {
      state.SkipWithError("grim failed");
      break;
    }
  }
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * payloadOf(primary)));
}
BENCHMARK(BM_GrimProcess)
    ->Name("Wayland/GrimProcess")
    ->Unit(benchmark::kMillisecond)
    ->UseRealTime();

void BM_ScreenshotPortal(benchmark::State& state) {
  if (!waylandSession(state)) return;
  std::string why;
  auto portal = linux_platform::DesktopPortal::connect(&why);
  if (!portal) {
    state.SkipWithError(why.c_str());
    return;
  }
  for (auto _ : state) {
    auto answer = linux_platform::requestScreenshot(*portal, [] { return false; });
    const gchar* uri = nullptr;
    if (answer.granted()) g_variant_lookup(answer.results.get(), "uri", "&s", &uri);
    gchar* path = uri ? g_filename_from_uri(uri, nullptr, nullptr) : nullptr;
    if (!path) {
      state.SkipWithError(("the Screenshot portal gave no file: " + answer.error).c_str());
      break;
    }
    unlink(path);
    g_free(path);
  }
}
BENCHMARK(BM_ScreenshotPortal)
    ->Name("Wayland/ScreenshotPortal")
    ->Unit(benchmark::kMillisecond)
    ->UseRealTime();

}  // namespace
