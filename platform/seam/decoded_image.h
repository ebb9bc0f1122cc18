// An image as a decoder hands it over, and the bound on its size.
#pragma once

#include <cstdint>
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

}  // namespace dravel
