#include "platform/linux/linux_graphics.h"

namespace dravel::linux_platform {

namespace {

class BgraContext : public BitmapContext {
 public:
  BgraContext(int64_t width, int64_t height) : width_(width), height_(height) {}
  void drawImageInto(const CapturedImage& image, ByteBuffer& out) override {
    if (image.width != width_ || image.height != height_) return;
    appendAsPremultipliedBGRA(image, out);
  }

 private:
  int64_t width_;
  int64_t height_;
};

}  // namespace

std::unique_ptr<BitmapContext> LinuxGraphics::createBitmapContext(int64_t width, int64_t height,
                                                                  int bitsPerComponent,
                                                                  int64_t bytesPerRow,
                                                                  uint32_t bitmapInfo) {
  if (width <= 0 || height <= 0 || bitsPerComponent != 8 ||
      bitmapInfo != (kBitmapByteOrder32Little | kImageAlphaPremultipliedFirst)) {
    return nullptr;
  }
  int64_t rowBytes = 0;
  if (__builtin_mul_overflow(width, int64_t{4}, &rowBytes) || bytesPerRow != rowBytes) {
    return nullptr;
  }
  return std::make_unique<BgraContext>(width, height);
}

int64_t LinuxGraphics::windowLevelForKey(int key) {
  return key == kPopUpMenuWindowLevelKey ? 101 : 0;
}

}  // namespace dravel::linux_platform
