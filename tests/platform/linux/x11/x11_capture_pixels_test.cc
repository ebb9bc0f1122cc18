// The capture engine's pixel arithmetic, without a display: the window-list
// bounds in root pixels and reading X pixel layouts the test desktop's
// server never has. Clipping, cropping and the cursor are checked against
// xwd by tests/desktop (X11Capture).
#include <gtest/gtest.h>

#include <cstring>
#include <vector>

#include "platform/linux/x11/x11_screen_capture.h"
#include "platform/linux/x11/x11_image_reader.h"

namespace dravel::linux_platform {
namespace {

TEST(X11CaptureRects, TopLeftBoundsBecomeRootPixelsFromThePrimarysOrigin) {
  // The primary is on the right at +1440 and the scale is 2: the left monitor
  // lies at negative points.
  DesktopLayout layout(
      {{"LEFT", 0, 0, 1440, 1800, false, 11}, {"RIGHT", 1440, 0, 1440, 1800, true, 12}}, 2);
  EXPECT_EQ(rootRectFromTopLeftBounds(layout, {-10.25, 3.5, 20.5, 1}), (PixelRect{1420, 7, 41, 2}));
  // The primary below the root's top edge.
  DesktopLayout lowered({{"P", 100, 300, 800, 600, true, 1}}, 1);
  EXPECT_EQ(rootRectFromTopLeftBounds(lowered, {0, 0, 800, 600}), (PixelRect{100, 300, 800, 600}));
  // Absurd bounds stay defined and clip away.
  const PixelRect huge = rootRectFromTopLeftBounds(lowered, {1e300, 0, 1e300, 10});
  EXPECT_TRUE(isEmpty(intersect(huge, {0, 0, 2880, 1800})));
}

TEST(X11CapturePixelLayout, OnlyThe24BitLittleEndianVisualIsTakenAsItIs) {
  EXPECT_TRUE(isBGRX({32, true, 0xff0000, 0xff00, 0xff}));
  EXPECT_FALSE(isBGRX({32, false, 0xff0000, 0xff00, 0xff}));     // big-endian server
  EXPECT_FALSE(isBGRX({32, true, 0xff, 0xff00, 0xff0000}));      // red and blue swapped
  EXPECT_TRUE(canConvert({16, true, 0xf800, 0x7e0, 0x1f}));
  EXPECT_FALSE(canConvert({8, true, 0xe0, 0x1c, 0x3}));          // palette depths
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
}

}  // namespace
}  // namespace dravel::linux_platform
