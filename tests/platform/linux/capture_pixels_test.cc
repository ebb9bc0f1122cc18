// The capture engine's pixel arithmetic, without a display: clipping and
// cropping, the window-list bounds in root pixels, reading X pixel layouts,
// and drawing the cursor.
#include <gtest/gtest.h>

#include <cstring>
#include <vector>

#include "platform/linux/linux_screen_capture.h"
#include "platform/linux/x_image_reader.h"

namespace dravel::linux_platform {
namespace {

CapturedImage numberedImage(int64_t width, int64_t height, int64_t bytesPerRow) {
  CapturedImage image;
  image.width = width;
  image.height = height;
  image.bytesPerRow = bytesPerRow;
  image.format = PixelFormat::kBGRX;
  image.pixels.assign(static_cast<size_t>(bytesPerRow * height), 0xEE);
  for (int64_t y = 0; y < height; ++y) {
    for (int64_t x = 0; x < width; ++x) {
      uint8_t* p = image.pixels.data() + y * bytesPerRow + x * 4;
      p[0] = static_cast<uint8_t>(x);
      p[1] = static_cast<uint8_t>(y);
      p[2] = 7;
      p[3] = 0;
    }
  }
  return image;
}

TEST(X11CaptureRects, IntersectionClipsToBothAndIsEmptyWhenApart) {
  EXPECT_EQ(intersect({0, 0, 2880, 1800}, {1440, 0, 1440, 1800}), (PixelRect{1440, 0, 1440, 1800}));
  // A monitor reaching past the root's right and bottom edges.
  EXPECT_EQ(intersect({1440, 900, 2000, 2000}, {0, 0, 2880, 1800}),
            (PixelRect{1440, 900, 1440, 900}));
  EXPECT_EQ(intersect({-10, -20, 30, 40}, {0, 0, 100, 100}), (PixelRect{0, 0, 20, 20}));
  EXPECT_TRUE(isEmpty(intersect({0, 0, 10, 10}, {10, 0, 10, 10})));  // touching edges
  EXPECT_TRUE(isEmpty(intersect({0, 0, 10, 10}, {50, 50, 10, 10})));
}

TEST(X11CaptureRects, TopLeftBoundsBecomeRootPixelsFromThePrimarysOrigin) {
  // The primary is on the right at +1440 and the scale is 2: the left monitor
  // lies at negative points.
  DesktopLayout layout(
      {{"LEFT", 0, 0, 1440, 1800, false, 11}, {"RIGHT", 1440, 0, 1440, 1800, true, 12}}, 2);
  EXPECT_EQ(rootRectFromTopLeftBounds(layout, {0, 0, 720, 900}), (PixelRect{1440, 0, 1440, 1800}));
  EXPECT_EQ(rootRectFromTopLeftBounds(layout, {-720, 0, 720, 900}), (PixelRect{0, 0, 1440, 1800}));
  EXPECT_EQ(rootRectFromTopLeftBounds(layout, {-10.25, 3.5, 20.5, 1}), (PixelRect{1420, 7, 41, 2}));
  // The primary below the root's top edge.
  DesktopLayout lowered({{"P", 100, 300, 800, 600, true, 1}}, 1);
  EXPECT_EQ(rootRectFromTopLeftBounds(lowered, {0, 0, 800, 600}), (PixelRect{100, 300, 800, 600}));
  // Absurd bounds stay defined and clip away.
  const PixelRect huge = rootRectFromTopLeftBounds(lowered, {1e300, 0, 1e300, 10});
  EXPECT_TRUE(isEmpty(intersect(huge, {0, 0, 2880, 1800})));
}

TEST(X11CaptureCrop, CopiesTheAreaRowByRowWithoutTheSourcePadding) {
  const CapturedImage image = numberedImage(10, 8, 48);  // 8 bytes of padding a row
  CapturedImagePtr crop = cropImage(image, {3, 2, 4, 5});
  ASSERT_TRUE(crop);
  EXPECT_EQ(crop->width, 4);
  EXPECT_EQ(crop->height, 5);
  EXPECT_EQ(crop->bytesPerRow, 16);
  EXPECT_EQ(crop->format, PixelFormat::kBGRX);
  ASSERT_TRUE(crop->isWellFormed());
  for (int64_t y = 0; y < 5; ++y) {
    for (int64_t x = 0; x < 4; ++x) {
      const uint8_t* p = crop->pixels.data() + y * 16 + x * 4;
      EXPECT_EQ(p[0], 3 + x);
      EXPECT_EQ(p[1], 2 + y);
    }
  }
  EXPECT_FALSE(cropImage(image, {8, 0, 4, 1}));   // past the right edge
  EXPECT_FALSE(cropImage(image, {0, -1, 1, 1}));  // above the top
  EXPECT_FALSE(cropImage(image, {0, 0, 0, 3}));
  EXPECT_TRUE(cropImage(image, {0, 0, 10, 8}));
}

TEST(X11CapturePixelLayout, OnlyThe24BitLittleEndianVisualIsTakenAsItIs) {
  EXPECT_TRUE(isBGRX({32, true, 0xff0000, 0xff00, 0xff}));
  EXPECT_FALSE(isBGRX({32, false, 0xff0000, 0xff00, 0xff}));     // big-endian server
  EXPECT_FALSE(isBGRX({32, true, 0x3ff00000, 0xffc00, 0x3ff}));  // 30-bit colour
  EXPECT_FALSE(isBGRX({32, true, 0xff, 0xff00, 0xff0000}));      // red and blue swapped
  EXPECT_FALSE(isBGRX({16, true, 0xf800, 0x7e0, 0x1f}));
  EXPECT_TRUE(canConvert({32, false, 0xff0000, 0xff00, 0xff}));
  EXPECT_TRUE(canConvert({32, true, 0x3ff00000, 0xffc00, 0x3ff}));
  EXPECT_TRUE(canConvert({16, true, 0xf800, 0x7e0, 0x1f}));
  EXPECT_TRUE(canConvert({24, false, 0xff0000, 0xff00, 0xff}));
  EXPECT_FALSE(canConvert({8, true, 0xe0, 0x1c, 0x3}));          // palette depths
  EXPECT_FALSE(canConvert({16, true, 0xf800, 0, 0x1f}));         // no green
  EXPECT_FALSE(canConvert({16, true, 0xf0f00, 0x7e0, 0x1f}));    // outside the pixel
  EXPECT_FALSE(canConvert({32, true, 0xf0f000, 0xff00, 0xff}));  // not contiguous
}

TEST(X11CapturePixelLayout, ConvertsOtherTrueColourLayoutsToBGRX) {
  uint8_t out[8];
  // 32 bits, MSBFirst: red 0x12, green 0x34, blue 0x56 stored as 00 12 34 56.
  const uint8_t bigEndian[] = {0x00, 0x12, 0x34, 0x56, 0xAA, 0xFF, 0x00, 0x80};
  convertRowToBGRX({32, false, 0xff0000, 0xff00, 0xff}, bigEndian, out, 2);
  EXPECT_EQ(std::vector<uint8_t>(out, out + 8),
            (std::vector<uint8_t>{0x56, 0x34, 0x12, 0xff, 0x80, 0x00, 0xff, 0xff}));
  // 30-bit colour keeps the top 8 of each 10 bits.
  const uint32_t deep = (0x3ffu << 20) | (0x200u << 10) | 0x004u;
  uint8_t deepBytes[4];
  std::memcpy(deepBytes, &deep, 4);
  convertRowToBGRX({32, true, 0x3ff00000, 0xffc00, 0x3ff}, deepBytes, out, 1);
  EXPECT_EQ(std::vector<uint8_t>(out, out + 4), (std::vector<uint8_t>{0x01, 0x80, 0xff, 0xff}));
  // 16-bit 5-6-5, little-endian: full intensity stays full, zero stays zero.
  const uint8_t rgb565[] = {0x1f, 0xf8, 0xe0, 0x07};  // red+blue full, then green full
  convertRowToBGRX({16, true, 0xf800, 0x7e0, 0x1f}, rgb565, out, 2);
  EXPECT_EQ(std::vector<uint8_t>(out, out + 8),
            (std::vector<uint8_t>{0xff, 0x00, 0xff, 0xff, 0x00, 0xff, 0x00, 0xff}));
  // Packed 24 bits, MSBFirst.
  const uint8_t packed[] = {0x01, 0x02, 0x03, 0x04, 0x05, 0x06};
  convertRowToBGRX({24, false, 0xff0000, 0xff00, 0xff}, packed, out, 2);
  EXPECT_EQ(std::vector<uint8_t>(out, out + 8),
            (std::vector<uint8_t>{0x03, 0x02, 0x01, 0xff, 0x06, 0x05, 0x04, 0xff}));
}

TEST(X11CaptureCursor, BlendsPremultipliedLongsAndClipsToTheImage) {
  CapturedImage image = numberedImage(4, 4, 16);
  for (size_t i = 0; i < image.pixels.size(); i += 4) {
    image.pixels[i] = 200;       // blue
    image.pixels[i + 1] = 100;   // green
    image.pixels[i + 2] = 0;     // red
    image.pixels[i + 3] = 0x5A;  // padding, left alone
  }
  // A 2 x 2 cursor, each pixel an unsigned long as XFixes gives them, with
  // garbage above the low 32 bits where longs are wider.
  const unsigned long high = sizeof(unsigned long) > 4 ? (0xDEADul << 16) << 16 : 0;
  const unsigned long cursor[4] = {
      high | 0xFFFF0000ul,  // opaque red
      high | 0x00000000ul,  // transparent
      high | 0x80400000ul,  // half-covered, premultiplied red 0x40
      high | 0xFF00FF00ul,  // opaque green
  };
  // The image's top-left is root (100, 50); the cursor's at (103, 49): only
  // its bottom-left pixel (the half-covered one) lands inside, on (3, 0).
  compositeCursor(image, 100, 50, cursor, 2, 2, 103, 49);
  const uint8_t* p = image.pixels.data() + 3 * 4;
  EXPECT_EQ(p[0], (200 * 127 + 127) / 255);
  EXPECT_EQ(p[1], (100 * 127 + 127) / 255);
  EXPECT_EQ(p[2], 0x40);
  EXPECT_EQ(p[3], 0x5A);
  // Untouched elsewhere.
  EXPECT_EQ(image.pixels[2 * 4], 200);
  EXPECT_EQ(image.pixels[16 + 3 * 4], 200);

  // Wholly inside: opaque pixels replace, transparent ones keep.
  compositeCursor(image, 0, 0, cursor, 2, 2, 1, 1);
  const uint8_t* opaqueRed = image.pixels.data() + 1 * 16 + 1 * 4;
  EXPECT_EQ((std::vector<uint8_t>(opaqueRed, opaqueRed + 3)), (std::vector<uint8_t>{0, 0, 255}));
  const uint8_t* kept = image.pixels.data() + 1 * 16 + 2 * 4;
  EXPECT_EQ((std::vector<uint8_t>(kept, kept + 3)), (std::vector<uint8_t>{200, 100, 0}));
  const uint8_t* green = image.pixels.data() + 2 * 16 + 2 * 4;
  EXPECT_EQ((std::vector<uint8_t>(green, green + 3)), (std::vector<uint8_t>{0, 255, 0}));
}

}  // namespace
}  // namespace dravel::linux_platform
