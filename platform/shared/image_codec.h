// Image decoding and encoding shared by every platform: PNG read by a quick
// decoder of its own (png_check.h) or libpng and written by the parallel
// encoder (png_encoder.h), TIFF through libtiff.
#pragma once

#include <cstdint>
#include <optional>
#include <span>
#include <vector>

#include "platform/seam/decoded_image.h"

namespace dravel {

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
