#include "tests/support/bmp_maker.h"

namespace dravel::testing {
namespace {

void putLe(ByteBuffer& out, uint32_t value, int bytes) {
  for (int i = 0; i < bytes; ++i) out.push_back(static_cast<uint8_t>(value >> (8 * i)));
}

}  // namespace

ByteBuffer bmpFile(int32_t width, int32_t height, const std::vector<uint8_t>& rgbTopFirst,
                   size_t extraZeros) {
  ByteBuffer rows;
  const size_t stride = (static_cast<size_t>(width) * 3 + 3) / 4 * 4;
  if (!rgbTopFirst.empty()) {
    for (int32_t y = height - 1; y >= 0; --y) {
      for (int32_t x = 0; x < width; ++x) {
        const uint8_t* p = &rgbTopFirst[(static_cast<size_t>(y) * width + x) * 3];
        rows.insert(rows.end(), {p[2], p[1], p[0]});
      }
      rows.resize(rows.size() + stride - static_cast<size_t>(width) * 3, 0);
    }
  }
  rows.resize(rows.size() + extraZeros, 0);
  ByteBuffer out{'B', 'M'};
  const auto size = static_cast<uint32_t>(rows.size());
  // File size, reserved, pixel offset; info header size, width, height,
  // planes, bits per pixel, no compression, image size, 72 dpi twice, no
  // palette.
  for (uint32_t v :
       {54 + size, 0u, 54u, 40u, static_cast<uint32_t>(width), static_cast<uint32_t>(height)}) {
    putLe(out, v, 4);
  }
  putLe(out, 1, 2);
  putLe(out, 24, 2);
  for (uint32_t v : {0u, size, 2835u, 2835u, 0u, 0u}) putLe(out, v, 4);
  out.insert(out.end(), rows.begin(), rows.end());
  return out;
}

}  // namespace dravel::testing
