// Image decoding and encoding shared by every platform: PNG through libpng,
// TIFF through libtiff.
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

// Decodes PNG or TIFF data. Absent when the data is not a decodable image.
std::optional<DecodedImage> decodeImage(std::span<const uint8_t> data);
std::optional<DecodedImage> decodePng(std::span<const uint8_t> data);
std::optional<DecodedImage> decodeTiff(std::span<const uint8_t> data);

// Encodes as PNG (8-bit RGBA) or as an uncompressed RGBA TIFF with
// unassociated alpha. Absent when the encoder fails.
std::optional<std::vector<uint8_t>> encodePng(const DecodedImage& image);
std::optional<std::vector<uint8_t>> encodeTiff(const DecodedImage& image);

}  // namespace dravel
