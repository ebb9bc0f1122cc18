// PNG writing on every core. The image's rows are split into bands; each
// band is converted from the source's layout, filtered and deflated (ISA-L or zlib)
// on a thread of its own, primed with the 32 KiB of filtered rows before it
// so that it compresses as well as one stream would, and ends on a byte
// boundary (a sync flush). The bands joined in order, with the zlib header
// before them and the combined Adler-32 after them, are one zlib stream: a
// standard PNG that every reader takes.
//
// Opaque images are written as RGB, others as RGBA with straight alpha.
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

namespace dravel {

// Size against speed. kFast is the default everywhere a capture is written.
enum class PngCompression { kFast, kDefault, kSmall };
// "fast", "default", "small"; absent for anything else.
std::optional<PngCompression> pngCompressionNamed(std::string_view name);

enum class PngSourceLayout {
  // Blue, green, red, alpha in memory order, colour premultiplied by alpha:
  // what a capture's reply holds.
  kPremultipliedBgra,
  // Red, green, blue, alpha in memory order, colour not premultiplied.
  kStraightRgba,
};

// Pixels to encode, read in place (never copied whole): top row first,
// `bytesPerRow` apart, each row at least width x 4 bytes.
struct PngSource {
  const uint8_t* pixels = nullptr;
  uint32_t width = 0;
  uint32_t height = 0;
  size_t bytesPerRow = 0;
  PngSourceLayout layout = PngSourceLayout::kStraightRgba;
};

struct PngEncodeOptions {
  PngCompression compression = PngCompression::kFast;
  // Threads that encode; 0 takes one per core.
  unsigned threads = 0;
};

// Takes the file's bytes, in order; false (a failed write) stops the
// encoding.
using PngOutput = std::function<bool(std::span<const uint8_t>)>;

// Encodes `source` into `sink`. False with the reason in `why` when the
// source is not a valid image (no pixels, a zero or too large size, rows
// shorter than the width), when memory is short on any thread, or when the
// sink refuses; the sink then has had nothing, or a part that must be thrown
// away.
bool encodePngTo(const PngSource& source, const PngEncodeOptions& options, const PngOutput& sink,
                 std::string* why = nullptr);
// The same into memory.
std::optional<std::vector<uint8_t>> encodePngBytes(const PngSource& source,
                                                   const PngEncodeOptions& options = {},
                                                   std::string* why = nullptr);

}  // namespace dravel
