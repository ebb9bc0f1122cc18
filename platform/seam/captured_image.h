// An image as a capture engine hands it over: pixel size, row stride and one
// of the pixel layouts that the platform's engines produce.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <memory>
#include <vector>

namespace dravel {

enum class PixelFormat {
  // Blue, green, red, alpha in memory order; colour premultiplied by alpha.
  kBGRAPremultiplied,
  // Blue, green, red, then a byte with no meaning: every pixel is opaque.
  kBGRX,
  // Red, green, blue, alpha in memory order; colour not premultiplied.
  kRGBAStraight,
};

struct CapturedImage {
  int64_t width = 0;        // pixels
  int64_t height = 0;       // pixels
  int64_t bytesPerRow = 0;  // at least width x 4; rows may end in padding
  PixelFormat format = PixelFormat::kBGRAPremultiplied;
  std::vector<uint8_t> pixels;  // top row first, bytesPerRow per row

  // Whether the pixel data holds every row the size promises.
  bool isWellFormed() const;
};

using CapturedImagePtr = std::shared_ptr<const CapturedImage>;

// Copies `width` pixels of blue, green, red and a byte of no meaning as
// opaque premultiplied BGRA (the fourth byte 0xFF): how engines write the
// capture reply's layout in their one pass over a frame.
void copyAsOpaqueBgra(const uint8_t* bgrx, uint8_t* bgra, size_t width);

// Whether a block of `bytes` can be allocated now, asked without throwing.
// Large pixel buffers are checked with it before they are made: some
// allocators (the sanitizers') end the process on a failed throwing
// allocation instead of throwing std::bad_alloc. The allocation that follows
// still handles std::bad_alloc.
inline bool canAllocate(size_t bytes) {
  void* probe = std::malloc(bytes);
  // Keeps the compiler from eliding the unused allocation.
  asm volatile("" : : "r"(probe) : "memory");
  std::free(probe);
  return probe != nullptr;
}

}  // namespace dravel
