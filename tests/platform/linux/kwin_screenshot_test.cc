// What the KWin route makes of KWin's answers: the result map, the bytes of
// the pipe, and the outputs of its support information.
#include <gtest/gtest.h>

#include "platform/linux/kwin_screenshot_route.h"

namespace dravel::linux_platform {
namespace {

GVariant* parsed(const char* text) {
  GError* error = nullptr;
  GVariant* v = g_variant_parse(G_VARIANT_TYPE_VARDICT, text, nullptr, nullptr, &error);
  EXPECT_NE(v, nullptr) << text << ": " << (error ? error->message : "");
  g_clear_error(&error);
  return v;
}

TEST(KWinScreenShot, MalformedAnswersAreRefusedSayingWhy) {
  struct Case {
    const char* answer;
    const char* error;  // a part of the message
  };
  const Case cases[] = {
      {"{'type': <'png'>, 'width': <uint32 4>, 'height': <uint32 4>, 'stride': <uint32 16>, "
       "'format': <uint32 5>}",
       "not raw"},
      {"{'type': <7>, 'width': <uint32 4>, 'height': <uint32 4>, 'stride': <uint32 16>, "
       "'format': <uint32 5>}",
       "not raw"},
      {"{'height': <uint32 4>, 'stride': <uint32 16>, 'format': <uint32 5>}", "no width"},
      {"{'width': <4>, 'height': <uint32 4>, 'stride': <uint32 16>, 'format': <uint32 5>}",
       "width as type i"},
      {"{'width': <uint32 4>, 'height': <uint32 4>, 'stride': <uint32 16>}", "no format"},
      {"{'width': <uint32 0>, 'height': <uint32 4>, 'stride': <uint32 16>, 'format': <uint32 5>}",
       "empty image"},
      {"{'width': <uint32 4>, 'height': <uint32 0>, 'stride': <uint32 16>, 'format': <uint32 5>}",
       "empty image"},
      {"{'width': <uint32 4>, 'height': <uint32 4>, 'stride': <uint32 15>, 'format': <uint32 5>}",
       "shorter than 4 pixels"},
      // width x 4 overflows 32 bits: the stride looks long enough.
      {"{'width': <uint32 1073741825>, 'height': <uint32 1>, 'stride': <uint32 4>, "
       "'format': <uint32 5>}",
       "larger than the host accepts"},
      {"{'width': <uint32 65536>, 'height': <uint32 65536>, 'stride': <uint32 262144>, "
       "'format': <uint32 5>}",
       "larger than the host accepts"},
      // The pixels fit; the padded rows do not.
      {"{'width': <uint32 1024>, 'height': <uint32 65536>, 'stride': <uint32 4294967295>, "
       "'format': <uint32 5>}",
       "rows of 4294967295 bytes is larger"},
  };
  for (const Case& c : cases) {
    GVariant* answer = parsed(c.answer);
    std::string error;
    EXPECT_FALSE(parseKWinAnswer(answer, &error)) << c.answer;
    EXPECT_NE(error.find(c.error), std::string::npos) << c.answer << " -> " << error;
    if (answer) g_variant_unref(answer);
  }
  std::string error;
  GVariant* tuple = g_variant_ref_sink(g_variant_new("(u)", 4));
  EXPECT_FALSE(parseKWinAnswer(tuple, &error));
  EXPECT_FALSE(parseKWinAnswer(nullptr, &error));
  g_variant_unref(tuple);
}

TEST(KWinScreenShot, AWellFormedAnswerGivesItsHeader) {
  GVariant* answer = parsed(
      "{'type': <'raw'>, 'width': <uint32 1920>, 'height': <uint32 1080>, "
      "'stride': <uint32 7744>, 'format': <uint32 6>, 'scale': <1.0>, 'screen': <'Virtual-1'>}");
  std::string error;
  std::optional<KWinImageHeader> header = parseKWinAnswer(answer, &error);
  ASSERT_TRUE(header) << error;
  EXPECT_EQ(header->width, 1920u);
  EXPECT_EQ(header->height, 1080u);
  EXPECT_EQ(header->stride, 7744u);
  EXPECT_EQ(header->format, 6u);
  EXPECT_EQ(header->byteCount(), 7744u * 1080u);
  g_variant_unref(answer);
}

TEST(KWinScreenShot, PixelFormatsBecomeTheHostsLayouts) {
  // Two pixels in rows of 12 bytes (4 of padding), two rows.
  const std::vector<uint8_t> given = {10, 20, 30, 40, 200, 100, 50, 255, 9, 9, 9, 9,
                                      0,  0,  0,  0,  1,   2,   3,  128, 9, 9, 9, 9};
  struct Case {
    uint32_t format;
    PixelFormat expected;
    std::vector<uint8_t> pixels;
  };
  const Case cases[] = {
      {4, PixelFormat::kBGRX, given},
      {6, PixelFormat::kBGRAPremultiplied, given},
      {17, PixelFormat::kRGBAStraight, given},
      // Straight alpha premultiplied, rounded; opaque pixels unchanged.
      {5, PixelFormat::kBGRAPremultiplied, {2, 3, 5, 40, 200, 100, 50, 255, 9, 9, 9, 9,
                                            0, 0, 0, 0,  1,   1,   2,  128, 9, 9, 9, 9}},
      {16, PixelFormat::kRGBAStraight, {10, 20, 30, 255, 200, 100, 50, 255, 9, 9, 9, 9,
                                        0,  0,  0,  255, 1,   2,   3,  255, 9, 9, 9, 9}},
      {18, PixelFormat::kBGRAPremultiplied, {30, 20, 10, 40, 50, 100, 200, 255, 9, 9, 9, 9,
                                             0,  0,  0,  0,  3,  2,   1,   128, 9, 9, 9, 9}},
  };
  for (const Case& c : cases) {
    std::string error;
    CapturedImagePtr image = kwinImage({2, 2, 12, c.format}, given, &error);
    ASSERT_TRUE(image) << c.format << ": " << error;
    EXPECT_EQ(image->format, c.expected) << c.format;
    EXPECT_EQ(image->pixels, c.pixels) << c.format;
    EXPECT_EQ(image->bytesPerRow, 12) << c.format;
    EXPECT_TRUE(image->isWellFormed()) << c.format;
  }
}

TEST(KWinScreenShot, BytesThatAreNotTheAnnouncedImageAreRefused) {
  struct Case {
    KWinImageHeader header;
    size_t bytes;
    const char* error;
  };
  const Case cases[] = {
      {{2, 2, 8, 5}, 15, "wrote 15 bytes of pixels, not the 16"},
      {{2, 2, 8, 5}, 17, "wrote 17 bytes of pixels, not the 16"},
      {{2, 2, 8, 5}, 0, "wrote 0 bytes"},
      {{2, 2, 8, 3}, 16, "QImage format 3"},
      {{2, 2, 8, 13}, 16, "QImage format 13"},
  };
  for (const Case& c : cases) {
    std::string error;
    EXPECT_FALSE(kwinImage(c.header, std::vector<uint8_t>(c.bytes), &error)) << c.error;
    EXPECT_NE(error.find(c.error), std::string::npos) << error;
  }
}

TEST(KWinScreenShot, OutputsComeFromTheScreensOfTheSupportInformation) {
  const std::string text =
      "Output backend\n==============\nName: KWin::VirtualBackend\n\n"
      "Screens\n=======\nNumber of Screens: 5\n\n"
      "Screen 0:\n---------\nName: Virtual-0\nEnabled: 1\nGeometry: 0,0,1920x1080\nScale: 1\n"
      "Screen 1:\n---------\nName: Virtual-1\nEnabled: 1\nGeometry: -1280,-40,1280x720\n"
      "Screen 2:\n---------\nName: Off-2\nEnabled: 0\nGeometry: 3200,0,800x600\n"
      "Screen 3:\n---------\nName: Bad-3\nEnabled: 1\nGeometry: 3200,0,800x\n"
      "Screen 4:\n---------\nEnabled: 1\nGeometry: 4000,0,800x600\n"
      "\nCompositing\n===========\nName: not a screen\nGeometry: 1,1,1x1\n";
  const std::vector<KWinOutput> expected = {{"Virtual-0", 0, 0, 1920, 1080},
                                            {"Virtual-1", -1280, -40, 1280, 720}};
  EXPECT_EQ(parseKWinOutputs(text), expected);
  EXPECT_TRUE(parseKWinOutputs("").empty());
}

TEST(KWinScreenShot, AMonitorIsCapturedAsTheOutputOfItsNameOrPlace) {
  const std::vector<KWinOutput> outputs = {{"Virtual-0", 0, 0, 1920, 1080},
                                           {"Virtual-1", 1920, 0, 1920, 1080},
                                           {"Mirror-A", 0, 2000, 800, 600},
                                           {"Mirror-B", 0, 2000, 800, 600}};
  auto monitor = [](int64_t x, int64_t y, int64_t w, int64_t h, std::string name) {
    RouteMonitor m;
    m.x = x;
    m.y = y;
    m.width = w;
    m.height = h;
    m.name = std::move(name);
    return m;
  };
  struct Case {
    RouteMonitor monitor;
    const char* expected;
  };
  const Case cases[] = {
      {monitor(1920, 0, 1920, 1080, ""), "Virtual-1"},
      {monitor(0, 0, 1920, 1080, "Virtual-1"), "Virtual-1"},  // the name wins
      {monitor(1920, 0, 1920, 1080, "HDMI-A-1"), "Virtual-1"},
      {monitor(1920, 0, 1280, 720, ""), ""},  // no output of that size there
      {monitor(0, 2000, 800, 600, ""), ""},   // two in one place
      {monitor(0, 2000, 800, 600, "Mirror-B"), "Mirror-B"},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(kwinOutputFor(c.monitor, outputs), c.expected)
        << c.monitor.name << " " << c.monitor.x << "," << c.monitor.y;
  }
}

}  // namespace
}  // namespace dravel::linux_platform
