// Pixels between straight RGBA and Cairo's image surfaces, whose ARGB32
// words are native-endian with premultiplied alpha.
#pragma once

#include <cairo.h>

#include <algorithm>
#include <cstddef>
#include <cstdint>

namespace dravel {

// One colour channel with straight alpha `a`, premultiplied, rounded.
inline uint8_t premultiply(uint32_t c, uint32_t a) {
  return static_cast<uint8_t>((c * a + 127) / 255);
}
// One premultiplied colour channel back to straight alpha, rounded; 0 where
// `a` is 0.
inline uint8_t unpremultiply(uint32_t c, uint32_t a) {
  return a == 0 ? 0 : static_cast<uint8_t>(std::min<uint32_t>(255, (c * 255 + a / 2) / a));
}

// A new image surface of `format` (ARGB32 or RGB24) from `height` rows
// `bytesPerRow` apart: straight RGBA when `straightRgba`, else Cairo's own
// words, copied. Null when Cairo cannot make it.
cairo_surface_t* surfaceFromRows(const uint8_t* rows, int width, int height, size_t bytesPerRow,
                                 bool straightRgba, cairo_format_t format = CAIRO_FORMAT_ARGB32);

// The pixels of an ARGB32 surface as straight RGBA, `width * 4` bytes a row.
void straightRgbaFromSurface(cairo_surface_t* surface, uint8_t* out);

}  // namespace dravel
