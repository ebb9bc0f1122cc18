// Main-thread cost per window of the window server's synchronous display
// image (the capture route of older systems) and of "activeWindow", with N
// windows of a 1440 x 900 screen at scale 2 listed. Half the windows are
// translucent. The "per_window" counter (seconds) is the time of one call
// over N. Drawing costs in proportion to each window's area (a translucent
// window is composited through a scratch surface of its own size, not of the
// screen's), and "activeWindow" costs about a microsecond per entry.
#include <benchmark/benchmark.h>

#include <memory>

#include "bench/bench_desktop.h"
#include "host/capture_handler.h"
#include "platform/sim/sim_desktop.h"

namespace dravel {
namespace {

void listWindows(int64_t count) {
  ValueList entries;
  for (int64_t i = 0; i < count; ++i) {
    entries.push_back(Value(ValueMap{{kCGWindowLayer, 0},
                                     {kCGWindowNumber, 100 + i},
                                     {kCGWindowOwnerPID, 500 + i},
                                     {kCGWindowOwnerName, "Application"},
                                     {kCGWindowName, "A window with an ordinary title"},
                                     {kCGWindowAlpha, i % 2 ? 0.9 : 1.0},
                                     {kCGWindowBounds, ValueMap{{"X", 20.0 * (i % 40)},
                                                                {"Y", 10.0 * (i % 40)},
                                                                {"Width", 600.0},
                                                                {"Height", 400.0}}}}));
  }
  benchDesktop().windowList().entries = std::move(entries);
}

// Seconds of one call divided by the number of windows.
benchmark::Counter perWindow(const benchmark::State& state) {
  return benchmark::Counter(
      static_cast<double>(state.range(0)),
      benchmark::Counter::kIsIterationInvariantRate | benchmark::Counter::kInvert);
}

void BM_DisplayImageWithWindows(benchmark::State& state) {
  listWindows(state.range(0));
  for (auto _ : state) {
    benchDesktop().screenCapture().renders.clear();
    CapturedImagePtr image = benchDesktop().screenCapture().displayCreateImage(1);
    benchmark::DoNotOptimize(image.get());
  }
  state.counters["per_window"] = perWindow(state);
}
BENCHMARK(BM_DisplayImageWithWindows)->Arg(10)->Arg(100)->Unit(benchmark::kMillisecond);

void BM_ActiveWindowWithWindows(benchmark::State& state) {
  listWindows(state.range(0));
  for (auto _ : state) {
    std::optional<ValueMap> found = CaptureHandler::activeWindow();
    benchmark::DoNotOptimize(found);
  }
  state.counters["per_window"] = perWindow(state);
}
BENCHMARK(BM_ActiveWindowWithWindows)->Arg(10)->Arg(1000)->Unit(benchmark::kMicrosecond);

}  // namespace
}  // namespace dravel
