// Simulated drawing services: BGRA bitmap contexts and the window levels.
#pragma once

#include "platform/seam/graphics.h"

namespace dravel::sim {

class SimBitmapContext : public BitmapContext {
 public:
  SimBitmapContext(int64_t width, int64_t height) : width_(width), height_(height) {}
  void drawImageInto(const CapturedImage& image, ByteBuffer& out) override;

 private:
  int64_t width_;
  int64_t height_;
};

class SimGraphics : public Graphics {
 public:
  // Makes the 8-bit premultiplied-first little-endian layout only, as the
  // host asks for, and only while `failBitmapContexts` is false.
  std::unique_ptr<BitmapContext> createBitmapContext(int64_t width, int64_t height,
                                                     int bitsPerComponent, int64_t bytesPerRow,
                                                     uint32_t bitmapInfo) override;
  int64_t windowLevelForKey(int key) override;
  // PNG and TIFF, through the shared codec.
  std::optional<DecodedImage> decodeImage(std::span<const uint8_t> data) const override;

  bool failBitmapContexts = false;
  int contextsMade = 0;
  // The pop-up menu level of the window server.
  int64_t popUpMenuLevel = 101;
};

}  // namespace dravel::sim
