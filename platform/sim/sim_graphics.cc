#include "platform/sim/sim_graphics.h"

#include "platform/shared/image_codec.h"

namespace dravel::sim {

void SimBitmapContext::drawImageInto(const CapturedImage& image, ByteBuffer& out) {
  if (image.width != width_ || image.height != height_) return;
  appendAsPremultipliedBGRA(image, out);
}

std::unique_ptr<BitmapContext> SimGraphics::createBitmapContext(int64_t width, int64_t height,
                                                                int bitsPerComponent,
                                                                int64_t bytesPerRow,
                                                                uint32_t bitmapInfo) {
  if (failBitmapContexts || width <= 0 || height <= 0 || bitsPerComponent != 8 ||
      bitmapInfo != (kBitmapByteOrder32Little | kImageAlphaPremultipliedFirst) ||
      bytesPerRow < width * 4) {
    return nullptr;
  }
  ++contextsMade;
  return std::make_unique<SimBitmapContext>(width, height);
}

int64_t SimGraphics::windowLevelForKey(int key) {
  switch (key) {
    case kPopUpMenuWindowLevelKey:
      return popUpMenuLevel;
    default:
      return 0;
  }
}

std::optional<DecodedImage> SimGraphics::decodeImage(std::span<const uint8_t> data) const {
  return dravel::decodeImage(data);
}

}  // namespace dravel::sim
