// Conversion of captured images into premultiplied BGRA rows: the drawing that
// every platform's BGRA bitmap context does.
#include <bit>
#include <cstring>

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

#include "platform/seam/graphics.h"

namespace dravel {
namespace {

static_assert(std::endian::native == std::endian::little,
              "pixel words are read as little-endian 32-bit values");

// Pixels converted per step through a buffer that stays in the first-level cache.
constexpr size_t kChunkPixels = 2048;

inline uint32_t load32(const uint8_t* p) {
  uint32_t v;
  std::memcpy(&v, p, 4);
  return v;
}

// BGRX: the fourth byte means nothing, so every pixel becomes opaque.
void convertBGRX(const uint8_t* src, uint32_t* dst, size_t count) {
  for (size_t i = 0; i < count; ++i) dst[i] = load32(src + 4 * i) | 0xFF000000u;
}

// RGBA with straight alpha to BGRA premultiplied. Red and blue are multiplied
// together in the two 16-bit halves of one word; each product c x a is
// rounded to the nearest multiple of 1/255 exactly: t = c x a + 128,
// (t + (t >> 8)) >> 8 equals round(c x a / 255) for all 8-bit c and a.
void convertRGBAStraight(const uint8_t* src, uint32_t* dst, size_t count) {
  size_t i = 0;
#if defined(__SSE2__)
  // Four pixels at a time in 16-bit lanes: the same rounding, then red and
  // blue swapped and the alpha lane put back.
  const __m128i zero = _mm_setzero_si128();
  const __m128i half = _mm_set1_epi16(128);
  const __m128i alphaLanes = _mm_set_epi16(-1, 0, 0, 0, -1, 0, 0, 0);
  auto premultiply = [&](__m128i px) {
    __m128i a = _mm_shufflehi_epi16(_mm_shufflelo_epi16(px, 0xFF), 0xFF);
    __m128i t = _mm_add_epi16(_mm_mullo_epi16(px, a), half);
    t = _mm_srli_epi16(_mm_add_epi16(t, _mm_srli_epi16(t, 8)), 8);
    t = _mm_or_si128(_mm_andnot_si128(alphaLanes, t), _mm_and_si128(alphaLanes, px));
    return _mm_shufflehi_epi16(_mm_shufflelo_epi16(t, _MM_SHUFFLE(3, 0, 1, 2)),
                               _MM_SHUFFLE(3, 0, 1, 2));
  };
  for (; i + 4 <= count; i += 4) {
    const __m128i px = _mm_loadu_si128(reinterpret_cast<const __m128i*>(src + 4 * i));
    const __m128i lo = premultiply(_mm_unpacklo_epi8(px, zero));
    const __m128i hi = premultiply(_mm_unpackhi_epi8(px, zero));
    _mm_storeu_si128(reinterpret_cast<__m128i*>(dst + i), _mm_packus_epi16(lo, hi));
  }
#endif
  for (; i < count; ++i) {
    const uint32_t p = load32(src + 4 * i);
    const uint32_t a = p >> 24;
    uint32_t rb = (p & 0x00FF00FFu) * a + 0x00800080u;
    rb = ((rb + ((rb >> 8) & 0x00FF00FFu)) >> 8) & 0x00FF00FFu;
    uint32_t g = ((p >> 8) & 0xFFu) * a + 0x80u;
    g = ((g + (g >> 8)) >> 8) & 0xFFu;
    // rb holds red in byte 0 and blue in byte 2; BGRA wants them swapped.
    dst[i] = (rb >> 16) | (g << 8) | ((rb & 0xFFu) << 16) | (a << 24);
  }
}

}  // namespace

void copyAsOpaqueBgra(const uint8_t* bgrx, uint8_t* bgra, size_t width) {
  for (size_t x = 0; x < width; ++x) {
    uint32_t pixel;
    std::memcpy(&pixel, bgrx + x * 4, 4);
    pixel |= 0xFF000000u;  // the fourth byte in memory, on a little-endian machine
    std::memcpy(bgra + x * 4, &pixel, 4);
  }
}

bool CapturedImage::isWellFormed() const {
  if (width < 0 || height < 0 || bytesPerRow < 0) return false;
  int64_t rowBytes = 0;
  if (__builtin_mul_overflow(width, int64_t{4}, &rowBytes) || bytesPerRow < rowBytes) return false;
  if (height == 0 || width == 0) return true;
  int64_t needed = 0;
  if (__builtin_mul_overflow(bytesPerRow, height - 1, &needed) ||
      __builtin_add_overflow(needed, rowBytes, &needed)) {
    return false;
  }
  return static_cast<uint64_t>(needed) <= pixels.size();
}

void appendAsPremultipliedBGRA(const CapturedImage& image, ByteBuffer& out) {
  if (!image.isWellFormed()) return;
  const size_t width = static_cast<size_t>(image.width);
  const size_t rowBytes = width * 4;
  alignas(64) uint32_t chunk[kChunkPixels];
  for (int64_t y = 0; y < image.height; ++y) {
    const uint8_t* row = image.pixels.data() + static_cast<size_t>(y * image.bytesPerRow);
    if (image.format == PixelFormat::kBGRAPremultiplied) {
      out.insert(out.end(), row, row + rowBytes);
      continue;
    }
    for (size_t x = 0; x < width; x += kChunkPixels) {
      const size_t count = std::min(kChunkPixels, width - x);
      if (image.format == PixelFormat::kBGRX) {
        convertBGRX(row + 4 * x, chunk, count);
      } else {
        convertRGBAStraight(row + 4 * x, chunk, count);
      }
      const auto* bytes = reinterpret_cast<const uint8_t*>(chunk);
      out.insert(out.end(), bytes, bytes + 4 * count);
    }
  }
}

}  // namespace dravel
