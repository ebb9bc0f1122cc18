// BMP files for tests of decoding through the desktop's image library,
// written by hand as the format lays them out.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

#include "channels/value.h"

namespace dravel::testing {

// A 24-bit uncompressed BMP: a 14-byte file header, a 40-byte info header,
// then rows bottom first, blue-green-red, each padded to four bytes.
// `rgbTopFirst` holds width x height RGB pixels, top row first, or nothing
// (a file that only declares its size); `extraZeros` bytes follow the rows.
ByteBuffer bmpFile(int32_t width, int32_t height, const std::vector<uint8_t>& rgbTopFirst,
                   size_t extraZeros = 0);

}  // namespace dravel::testing
