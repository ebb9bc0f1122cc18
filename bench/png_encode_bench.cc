// The PNG encoder alone, on the mixed-content screen at 2880 x 1800, against
// libpng with its default settings on the same pixels (RGB, as both write an
// opaque screen).
#include <benchmark/benchmark.h>
#include <png.h>

#include <thread>
#include <vector>

#include "bench/mixed_screen.h"
#include "platform/shared/png_encoder.h"

namespace dravel {
namespace {

constexpr int kWidth = 2880;
constexpr int kHeight = 1800;

const std::vector<uint8_t>& screen() {
  static const std::vector<uint8_t> pixels = bench::mixedScreenBgra(kWidth, kHeight);
  return pixels;
}

PngSource screenSource() {
  return {screen().data(), kWidth, kHeight, size_t{kWidth} * 4,
          PngSourceLayout::kPremultipliedBgra};
}

// libpng's defaults (level 6, adaptive filtering), one thread; the file's size.
size_t libpngDefault() {
  png_structp png = png_create_write_struct(PNG_LIBPNG_VER_STRING, nullptr, nullptr, nullptr);
  png_infop info = png_create_info_struct(png);
  size_t size = 0;
  png_set_write_fn(
      png, &size,
      [](png_structp p, png_bytep, png_size_t n) { *static_cast<size_t*>(png_get_io_ptr(p)) += n; },
      nullptr);
  if (setjmp(png_jmpbuf(png))) {
    png_destroy_write_struct(&png, &info);
    return 0;
  }
  png_set_IHDR(png, info, kWidth, kHeight, 8, PNG_COLOR_TYPE_RGB, PNG_INTERLACE_NONE,
               PNG_COMPRESSION_TYPE_DEFAULT, PNG_FILTER_TYPE_DEFAULT);
  png_write_info(png, info);
  std::vector<uint8_t> row(size_t{kWidth} * 3);
  for (int y = 0; y < kHeight; ++y) {
    const uint8_t* in = screen().data() + size_t{static_cast<size_t>(y)} * kWidth * 4;
    for (int x = 0; x < kWidth; ++x) {
      row[x * 3] = in[x * 4 + 2];
      row[x * 3 + 1] = in[x * 4 + 1];
      row[x * 3 + 2] = in[x * 4];
    }
    png_write_row(png, row.data());
  }
  png_write_end(png, nullptr);
  png_destroy_write_struct(&png, &info);
  return size;
}

void BM_LibpngDefault(benchmark::State& state) {
  size_t size = 0;
  for (auto _ : state) size = libpngDefault();
  state.counters["file_bytes"] = static_cast<double>(size);
}
BENCHMARK(BM_LibpngDefault)
    ->Name("Png/LibpngDefault")
    ->Unit(benchmark::kMillisecond)
    ->UseRealTime();

// Arguments: the compression setting, the thread count (0: one per core).
void BM_Encoder(benchmark::State& state) {
  static const size_t reference = libpngDefault();
  const PngEncodeOptions options{static_cast<PngCompression>(state.range(0)),
                                 static_cast<unsigned>(state.range(1))};
  size_t size = 0;
  for (auto _ : state) {
    size = 0;
    const bool ok = encodePngTo(screenSource(), options, [&](std::span<const uint8_t> bytes) {
      size += bytes.size();
      return true;
    });
    if (!ok) {
      state.SkipWithError("the encoder failed");
      break;
    }
  }
  state.counters["file_bytes"] = static_cast<double>(size);
  state.counters["size_vs_libpng"] = static_cast<double>(size) / static_cast<double>(reference);
}
BENCHMARK(BM_Encoder)
    ->Name("Png/Encoder")
    ->ArgNames({"setting", "threads"})
    ->Args({0, 1})
    ->Args({0, 0})
    ->Args({1, 0})
    ->Args({2, 0})
    ->Unit(benchmark::kMillisecond)
    ->UseRealTime();

}  // namespace
}  // namespace dravel
