// Bitmap contexts and window levels on the Linux desktop. Levels keep the
// values the host's arithmetic expects; the window maps them onto X: 0 a
// normal window, 1 to 999 kept above others, 1000 and up the overlay.
#pragma once

#include "platform/graphics.h"

namespace dravel::linux_platform {

class LinuxGraphics : public Graphics {
 public:
  // Only 8-bit, 4-byte, premultiplied-first little-endian contexts of a
  // positive size with rows of exactly width x 4 bytes.
  std::unique_ptr<BitmapContext> createBitmapContext(int64_t width, int64_t height,
                                                     int bitsPerComponent, int64_t bytesPerRow,
                                                     uint32_t bitmapInfo) override;
  // The pop-up menu level is 101; other keys are normal windows (0).
  int64_t windowLevelForKey(int key) override;
};

}  // namespace dravel::linux_platform
