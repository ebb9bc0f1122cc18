// The pixel conversion of a 2880 x 1800 capture (a 1440 x 900 screen at
// scale 2) from each capture layout, against a plain copy of the same bytes.
// The "x_memcpy" counter is the time of the conversions over the time of as
// many memcpys of the payload size into an existing buffer. Targets: BGRA within
// 1.3, BGRX within 2, straight-alpha RGBA within 4.
#include <benchmark/benchmark.h>

#include <algorithm>
#include <chrono>
#include <cstring>
#include <memory>

#include "bench/bench_desktop.h"
#include "host/capture_handler.h"
#include "platform/sim/sim_desktop.h"

namespace dravel {
namespace {

constexpr int64_t kWidth = 2880;
constexpr int64_t kHeight = 1800;
constexpr size_t kPayload = static_cast<size_t>(kWidth * kHeight * 4);

CapturedImage makeImage(PixelFormat format) {
  CapturedImage image;
  image.width = kWidth;
  image.height = kHeight;
  image.bytesPerRow = (kWidth * 4 + 63) / 64 * 64 + 64;  // padded rows, as engines give them
  image.format = format;
  image.pixels.resize(static_cast<size_t>(image.bytesPerRow * kHeight));
  for (int64_t y = 0; y < kHeight; ++y) {
    uint8_t* row = image.pixels.data() + y * image.bytesPerRow;
    for (int64_t x = 0; x < kWidth; ++x) {
      uint8_t* p = row + 4 * x;
      p[0] = static_cast<uint8_t>(x);
      p[1] = static_cast<uint8_t>(y);
      p[2] = static_cast<uint8_t>(x + y);
      // Every alpha value occurs, so no shortcut for opaque pixels helps.
      p[3] = static_cast<uint8_t>(x * 7 + y * 3);
    }
  }
  return image;
}

void BM_Memcpy(benchmark::State& state) {
  std::vector<uint8_t> src(kPayload, 1), dst(kPayload, 0);
  for (auto _ : state) {
    std::memcpy(dst.data(), src.data(), kPayload);
    benchmark::DoNotOptimize(dst.data());
    benchmark::ClobberMemory();
  }
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * kPayload));
}
BENCHMARK(BM_Memcpy)->Unit(benchmark::kMillisecond);

void BM_BgraBytes(benchmark::State& state, PixelFormat format) {
  benchDesktop();  // the simulated desktop supplies the bitmap contexts
  const CapturedImage image = makeImage(format);
  std::vector<uint8_t> copySource(kPayload, 1), copyTarget(kPayload, 0);
  // Each conversion is paired with a memcpy timed right next to it, so that
  // the ratio holds on a busy machine too.
  double converting = 0;
  double copying = 0;
  using Clock = std::chrono::steady_clock;
  for (auto _ : state) {
    auto t0 = Clock::now();
    PixelPayload payload = CaptureHandler::bgraBytes(image);
    benchmark::DoNotOptimize(payload.bytes->data());
    auto t1 = Clock::now();
    state.PauseTiming();
    auto t2 = Clock::now();
    std::memcpy(copyTarget.data(), copySource.data(), kPayload);
    benchmark::DoNotOptimize(copyTarget.data());
    benchmark::ClobberMemory();
    auto t3 = Clock::now();
    payload = {};
    state.ResumeTiming();
    converting += std::chrono::duration<double>(t1 - t0).count();
    copying += std::chrono::duration<double>(t3 - t2).count();
  }
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * kPayload));
  state.counters["x_memcpy"] = converting / copying;
}
BENCHMARK_CAPTURE(BM_BgraBytes, bgra_premultiplied, PixelFormat::kBGRAPremultiplied)
    ->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(BM_BgraBytes, bgrx, PixelFormat::kBGRX)->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(BM_BgraBytes, rgba_straight, PixelFormat::kRGBAStraight)
    ->Unit(benchmark::kMillisecond);

}  // namespace
}  // namespace dravel
