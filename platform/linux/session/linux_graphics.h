// Bitmap contexts, window levels and image decoding on the Linux desktop. Levels keep the
// values the host's arithmetic expects; the window maps them onto X: 0 a
// normal window, 1 to 999 kept above others, 1000 and up the overlay.
#pragma once

#include "platform/seam/graphics.h"

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
  // PNG and TIFF through the shared codec; any other format the desktop's
  // image library (gdk-pixbuf) reads through its loaders. A loader is told to
  // stop as soon as the image declares its size when that size is over the
  // bound, so it never allocates the pixels. Animations give their first
  // frame.
  std::optional<DecodedImage> decodeImage(std::span<const uint8_t> data) const override;
};

// The gdk-pixbuf half of LinuxGraphics::decodeImage, whatever the format.
// `sizeRefused` (when given) tells whether the image was refused for the size
// it declared, before any pixels were made.
std::optional<DecodedImage> decodeWithPixbuf(std::span<const uint8_t> data,
                                             bool* sizeRefused = nullptr);

}  // namespace dravel::linux_platform
