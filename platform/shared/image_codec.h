// Image decoding and encoding shared by every platform: PNG read by a quick
// decoder of its own (png_check.h) or libpng and written by the parallel
// encoder (png_encoder.h), TIFF through libtiff.
#pragma once

#include <cstdint>
#include <optional>
#include <span>
#include <vector>

namespace dravel {

// An image decoded into 8-bit RGBA with straight (not premultiplied) alpha,
// top row first, rows without padding.
struct DecodedImage {
  uint32_t width = 0;
  uint32_t height = 0;
  std::vector<uint8_t> rgba;
};

// The most pixels a decode produces: 2^27 (512 MiB of RGBA), more than any
// real screenshot (an 8K screen is 7680 x 4320, a quarter of it) and well
// below what the host may hold. The size an image declares is checked against
// it before any pixel memory is taken, so a small file that declares a huge
// image costs nothing; such an image is not decodable.
inline constexpr uint64_t kMaxDecodedPixels = uint64_t{1} << 27;
// The largest strip or tile a TIFF may declare: more than a whole image of
// kMaxDecodedPixels at 16 bits per sample is never needed.
inline constexpr uint64_t kMaxTiffChunkBytes = kMaxDecodedPixels * 8;

// The pixel size an image declares: a PNG's header, a TIFF's first
// directory. Nothing is decoded and no pixel memory is taken. Absent when the
// data is neither, or its header cannot be read.
struct ImageSize {
  uint32_t width = 0;
  uint32_t height = 0;
};
std::optional<ImageSize> declaredImageSize(std::span<const uint8_t> data);
// Whether a decode of an image of this size would be attempted at all.
bool withinDecodeBound(const ImageSize& size);

// Decodes PNG or TIFF data. Absent when the data is not a decodable image.
std::optional<DecodedImage> decodeImage(std::span<const uint8_t> data);
// PNGs of 8-bit RGB or RGBA (what screenshots are) are decoded by the quick
// row decoder (png_check.h), others by libpng.
std::optional<DecodedImage> decodePng(std::span<const uint8_t> data);
// libpng alone, for any PNG.
std::optional<DecodedImage> decodePngWithLibpng(std::span<const uint8_t> data);
std::optional<DecodedImage> decodeTiff(std::span<const uint8_t> data);

// Encodes as PNG (8-bit, RGB when every pixel is opaque, else RGBA; the
// fast setting on every core) or as an uncompressed RGBA TIFF with
// unassociated alpha. Absent when the encoder fails.
std::optional<std::vector<uint8_t>> encodePng(const DecodedImage& image);
std::optional<std::vector<uint8_t>> encodeTiff(const DecodedImage& image);

}  // namespace dravel
