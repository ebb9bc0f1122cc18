// Drawing services of the window server: bitmap contexts and window levels.
#pragma once

#include <cstdint>
#include <memory>
#include <optional>
#include <span>

#include "channels/value.h"
#include "platform/seam/captured_image.h"
#include "platform/seam/decoded_image.h"

namespace dravel {

// Bitmap layout: 32-bit little-endian words with premultiplied alpha first,
// which is blue, green, red, alpha in memory order.
inline constexpr uint32_t kBitmapByteOrder32Little = 0x2000;
inline constexpr uint32_t kImageAlphaPremultipliedFirst = 2;

// Window level keys.
inline constexpr int kPopUpMenuWindowLevelKey = 11;

// An 8-bit device-RGB bitmap of a fixed size that images are drawn into.
class BitmapContext {
 public:
  virtual ~BitmapContext() = default;
  // Draws the image so that it fills the bitmap exactly (no tiling, flip or
  // scaling; an image of another size leaves the bitmap as it was) and writes
  // the bitmap's rows, top first and without gaps, to the end of `out`.
  virtual void drawImageInto(const CapturedImage& image, ByteBuffer& out) = 0;
};

class Graphics {
 public:
  virtual ~Graphics() = default;
  // A context of width x height pixels, or none when the platform cannot make
  // one with these parameters.
  virtual std::unique_ptr<BitmapContext> createBitmapContext(int64_t width, int64_t height,
                                                             int bitsPerComponent,
                                                             int64_t bytesPerRow,
                                                             uint32_t bitmapInfo) = 0;
  // The window level that belongs to a level key.
  virtual int64_t windowLevelForKey(int key) = 0;
  // Decodes an image in any format the platform reads. Safe from any thread
  // and keeps no state between calls, so copies decode off the main thread.
  // An image that declares more than kMaxDecodedPixels (or no pixels) is
  // refused before any pixel memory is taken. Absent when the data is not a
  // decodable image.
  virtual std::optional<DecodedImage> decodeImage(std::span<const uint8_t> data) const = 0;
};

// The shared drawing behind every platform's BGRA bitmap context: converts an
// image of any capture layout into premultiplied BGRA, appending
// width x height x 4 bytes to `out`. Appends nothing when the image is
// malformed. `out` should have its capacity reserved by the caller.
void appendAsPremultipliedBGRA(const CapturedImage& image, ByteBuffer& out);

}  // namespace dravel
