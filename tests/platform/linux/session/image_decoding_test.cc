// Decoding on the Linux desktop: formats other than PNG and TIFF through
// gdk-pixbuf, behind the same pixel bound as the shared codec. Needs no
// display.
#include <gdk-pixbuf/gdk-pixbuf.h>
#include <gtest/gtest.h>

#include <fstream>

#include "platform/linux/session/linux_graphics.h"
#include "tests/support/bmp_maker.h"
#include "tests/support/proc_status.h"

namespace dravel::linux_platform {
namespace {

using dravel::testing::bmpFile;
using dravel::testing::procStatusKb;

// A file in `format` written by gdk-pixbuf's own saver from RGBA pixels.
ByteBuffer savedByPixbuf(const DecodedImage& image, const char* format) {
  GdkPixbuf* pixbuf = gdk_pixbuf_new(GDK_COLORSPACE_RGB, TRUE, 8, static_cast<int>(image.width),
                                     static_cast<int>(image.height));
  guchar* pixels = gdk_pixbuf_get_pixels(pixbuf);
  const int stride = gdk_pixbuf_get_rowstride(pixbuf);
  for (uint32_t y = 0; y < image.height; ++y) {
    std::copy_n(&image.rgba[y * image.width * 4], image.width * 4, pixels + y * stride);
  }
  gchar* buffer = nullptr;
  gsize size = 0;
  GError* error = nullptr;
  const bool saved = gdk_pixbuf_save_to_buffer(pixbuf, &buffer, &size, format, &error, nullptr);
  g_object_unref(pixbuf);
  EXPECT_TRUE(saved) << (error ? error->message : "");
  if (error) g_error_free(error);
  ByteBuffer out(buffer, buffer + size);
  g_free(buffer);
  return out;
}

bool resetPeakMemory() {
  std::ofstream out("/proc/self/clear_refs");
  out << "5";
  out.flush();
  return static_cast<bool>(out);
}

// Whole BMPs and their pixels are checked end to end through the clipboard
// by tests/desktop.
TEST(ImageDecoding, WhatIsNoWholeImageIsRefused) {
  LinuxGraphics graphics;
  // Neither an image nor anything at all.
  for (const ByteBuffer& junk : {ByteBuffer{}, ByteBuffer{1, 2, 3}, ByteBuffer(4096, 'x')}) {
    bool refused = true;
    EXPECT_FALSE(decodeWithPixbuf(junk, &refused)) << junk.size();
    EXPECT_FALSE(refused) << "nothing declared a size";
    EXPECT_FALSE(graphics.decodeImage(junk));
  }
  // A truncated file is not an image either, though the loader would hand
  // out what it has with the rest left blank.
  ByteBuffer truncated = bmpFile(3, 2, ByteBuffer(18, 7));
  truncated.resize(truncated.size() - 4);
  EXPECT_FALSE(graphics.decodeImage(truncated));
  DecodedImage opaque{16, 16, ByteBuffer(16 * 16 * 4, 255)};
  const ByteBuffer jpeg = savedByPixbuf(opaque, "jpeg");
  ASSERT_TRUE(graphics.decodeImage(jpeg));
  EXPECT_FALSE(graphics.decodeImage(std::span<const uint8_t>(jpeg).first(jpeg.size() / 2)));
}

TEST(ImageDecoding, ADeclaredSizeOverTheBoundIsRefusedBeforeThePixelsAreMade) {
  ASSERT_TRUE(resetPeakMemory()) << "no peak-memory reset on this system";
  const long baseline = procStatusKb("VmRSS");
  // Address space too: a loader's untouched allocation is not resident.
  const long peakSpace = procStatusKb("VmPeak");
  LinuxGraphics graphics;
  // 30000 x 30000 is 9 * 10^8 pixels (3.4 GiB of RGBA), and one row of
  // 2^27 + 1; a few kilobytes of rows follow each.
  for (const auto& [width, height] :
       std::vector<std::pair<int32_t, int32_t>>{{30000, 30000}, {(1 << 27) + 1, 1}}) {
    const ByteBuffer bomb = bmpFile(width, height, {}, 8192);
    bool refused = false;
    EXPECT_FALSE(decodeWithPixbuf(bomb, &refused)) << width << " x " << height;
    EXPECT_TRUE(refused) << width << " x " << height;
    EXPECT_FALSE(graphics.decodeImage(bomb));
  }
  // Making any of those pixels would have taken far more.
  EXPECT_LT(procStatusKb("VmHWM") - baseline, 64 * 1024);
  EXPECT_LT(procStatusKb("VmPeak") - peakSpace, 64 * 1024) << "peak address space";

  // Just under the bound the size is let through (the load then fails on
  // the missing rows, which is a failure of another kind).
  bool refused = true;
  EXPECT_FALSE(decodeWithPixbuf(bmpFile(1 << 13, 1 << 13, {}, 64), &refused));
  EXPECT_FALSE(refused);
}

}  // namespace
}  // namespace dravel::linux_platform
