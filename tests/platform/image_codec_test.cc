#include "platform/shared/image_codec.h"

#include <gdk-pixbuf/gdk-pixbuf.h>
#include <gtest/gtest.h>
#include <png.h>
#include <tiffio.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <optional>
#include <span>
#include <string>
#include <vector>

#include "platform/shared/png_encoder.h"
#include "tests/support/png_maker.h"

namespace dravel {
namespace {

using Bytes = std::vector<uint8_t>;
using testing::PngLayout;
using testing::pngWithLayout;

DecodedImage sampleImage() {
  // Opaque, translucent and fully transparent pixels, the last with a colour
  // that straight alpha must keep.
  DecodedImage image{3, 2, {}};
  image.rgba = {255, 0,  0,   255, 10, 20,  30,  128, 1,  2,  3,  0,
                0,   40, 250, 1,   90, 180, 200, 255, 77, 66, 55, 254};
  return image;
}

// Width, height and pixels of a decoded image; zero and empty for none.
std::tuple<uint32_t, uint32_t, Bytes> shape(const std::optional<DecodedImage>& image) {
  if (!image) return {0, 0, {}};
  return {image->width, image->height, image->rgba};
}

struct Codec {
  const char* name;
  std::optional<Bytes> (*encode)(const DecodedImage&);
  std::optional<DecodedImage> (*decode)(std::span<const uint8_t>);
};
const Codec kCodecs[] = {{"PNG", encodePng, decodePng}, {"TIFF", encodeTiff, decodeTiff}};

// The PNG and TIFF of an image with translucent pixels are read back pixel
// for pixel through the host's copy and xclip by tests/desktop
// (HostClipboard).
TEST(ImageCodec, TruncatedOrForeignDataIsNotAnImage) {
  for (const Codec& codec : kCodecs) {
    SCOPED_TRACE(codec.name);
    const Bytes valid = *codec.encode(sampleImage());
    for (size_t length = 0; length < valid.size(); ++length) {
      EXPECT_FALSE(codec.decode({valid.data(), length})) << "prefix " << length;
      EXPECT_FALSE(decodeImage({valid.data(), length})) << "prefix " << length;
    }
  }
  Bytes tiff = {'I', 'I', 42, 0};
  for (int i = 0; i < 200; ++i) tiff.push_back(static_cast<uint8_t>(i * 37 + 11));
  EXPECT_FALSE(decodeTiff(tiff));
}

TEST(PngCodec, EveryStoredLayoutBecomesStraightRgba) {
  // Indices 0, 1, 2; the tRNS shorter than the palette: the rest opaque.
  const PngLayout palette{3,       1,
                          4,       PNG_COLOR_TYPE_PALETTE,
                          false,   {0x01, 0x20},
                          false,   {255, 0, 0, 0, 255, 0, 0, 0, 255},
                          {0, 128}};
  PngLayout keyed{2, 1, 8, PNG_COLOR_TYPE_RGB, false, {1, 2, 3, 4, 5, 6}};
  keyed.colorKey = {1, 2, 3};
  const Bytes wide = {0x33, 0x33, 0x66, 0x66, 0x99, 0x99, 0xcc, 0xcc};

  const struct {
    const char* name;
    PngLayout layout;
    Bytes expected;
  } cases[] = {
      {"grey with alpha",
       {2, 1, 8, PNG_COLOR_TYPE_GRAY_ALPHA, false, {10, 20, 200, 0}},
       {10, 10, 10, 20, 200, 200, 200, 0}},
      {"palette with tRNS", palette, {255, 0, 0, 0, 0, 255, 0, 128, 0, 0, 255, 255}},
      {"RGB with colour key", keyed, {1, 2, 3, 0, 4, 5, 6, 255}},
      {"RGBA 16-bit", {1, 1, 16, PNG_COLOR_TYPE_RGB_ALPHA, false, wide}, {0x33, 0x66, 0x99, 0xcc}},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    EXPECT_EQ(shape(decodePng(pngWithLayout(c.layout))),
              std::make_tuple(c.layout.width, c.layout.height, c.expected));
  }
}

// --- TIFF files written with libtiff, in layouts encodeTiff never produces.

struct TiffLayout {
  uint32_t width;
  uint32_t height;
  uint16_t bitsPerSample;
  uint16_t extraSample;
  uint16_t orientation;
  Bytes pixels;  // RGBA rows; 16-bit samples in host order. Empty for a token strip only.
};

Bytes rgbaTiffWithLayout(const TiffLayout& layout) {
  std::FILE* file = std::tmpfile();
  if (!file) return {};
  TIFF* tif = TIFFFdOpen(dup(fileno(file)), "layout", "w");
  EXPECT_TRUE(tif);
  TIFFSetField(tif, TIFFTAG_IMAGEWIDTH, layout.width);
  TIFFSetField(tif, TIFFTAG_IMAGELENGTH, layout.height);
  TIFFSetField(tif, TIFFTAG_BITSPERSAMPLE, layout.bitsPerSample);
  TIFFSetField(tif, TIFFTAG_SAMPLESPERPIXEL, 4);
  TIFFSetField(tif, TIFFTAG_PHOTOMETRIC, PHOTOMETRIC_RGB);
  TIFFSetField(tif, TIFFTAG_EXTRASAMPLES, 1, &layout.extraSample);
  TIFFSetField(tif, TIFFTAG_ORIENTATION, layout.orientation);
  TIFFSetField(tif, TIFFTAG_PLANARCONFIG, PLANARCONFIG_CONTIG);
  TIFFSetField(tif, TIFFTAG_ROWSPERSTRIP, 1);
  Bytes pixels = layout.pixels;
  if (pixels.empty()) {
    uint8_t token[16] = {};
    EXPECT_GT(TIFFWriteRawStrip(tif, 0, token, sizeof token), 0);
  }
  const size_t stride = pixels.size() / layout.height;
  for (uint32_t y = 0; !pixels.empty() && y < layout.height; ++y) {
    EXPECT_GE(TIFFWriteScanline(tif, pixels.data() + y * stride, y, 0), 0);
  }
  TIFFClose(tif);
  Bytes out;
  std::rewind(file);
  for (int c; (c = std::fgetc(file)) != EOF;) out.push_back(static_cast<uint8_t>(c));
  std::fclose(file);
  return out;
}

// g++ 12 at -O3 reports the vectors inside this table of cases as "maybe
// uninitialized" when it destroys them: a false positive of the optimiser.
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wmaybe-uninitialized"
TEST(TiffCodec, OtherLayoutsBecomeStraightTopDownRgba) {
  const struct {
    const char* name;
    TiffLayout layout;
    Bytes expected;
    int tolerance;
  } cases[] = {
      {"associated alpha",
       {2, 1, 8, EXTRASAMPLE_ASSOCALPHA, ORIENTATION_TOPLEFT, {100, 50, 0, 128, 0, 0, 0, 0}},
       {199, 100, 0, 128, 0, 0, 0, 0},
       1},
      {"bottom row first",
       {1, 2, 8, EXTRASAMPLE_UNASSALPHA, ORIENTATION_BOTLEFT, {1, 2, 3, 255, 4, 5, 6, 255}},
       {4, 5, 6, 255, 1, 2, 3, 255},
       0},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    const auto decoded = decodeImage(rgbaTiffWithLayout(c.layout));
    ASSERT_TRUE(decoded);
    EXPECT_EQ(decoded->width, c.layout.width);
    EXPECT_EQ(decoded->height, c.layout.height);
    ASSERT_EQ(decoded->rgba.size(), c.expected.size());
    for (size_t i = 0; i < c.expected.size(); ++i) {
      EXPECT_NEAR(decoded->rgba[i], c.expected[i], c.tolerance) << "byte " << i;
    }
  }
}

#pragma GCC diagnostic pop

TEST(TiffCodec, OversizedImagesAreRefusedBeforeAllocating) {
  // 100000 x 60000 would take 24 GB as RGBA; the size is read from the
  // directory. PNG bombs are copy_png_test's.
  const Bytes tiff =
      rgbaTiffWithLayout({100000, 60000, 8, EXTRASAMPLE_UNASSALPHA, ORIENTATION_TOPLEFT, {}});
  ASSERT_TRUE(declaredImageSize(tiff));
  EXPECT_EQ(declaredImageSize(tiff)->width, 100000u);
  EXPECT_EQ(declaredImageSize(tiff)->height, 60000u);
  EXPECT_FALSE(withinDecodeBound(*declaredImageSize(tiff)));
  EXPECT_FALSE(decodeImage(tiff));
  EXPECT_FALSE(decodeTiff(tiff));
}

// --- The parallel encoder, read back by libpng and by gdk-pixbuf.

// What gdk-pixbuf reads from a PNG, as straight RGBA.
std::optional<DecodedImage> decodeWithPixbuf(const Bytes& png) {
  GdkPixbufLoader* loader = gdk_pixbuf_loader_new_with_type("png", nullptr);
  const bool read = gdk_pixbuf_loader_write(loader, png.data(), png.size(), nullptr) &&
                    gdk_pixbuf_loader_close(loader, nullptr);
  GdkPixbuf* pixbuf = read ? gdk_pixbuf_loader_get_pixbuf(loader) : nullptr;
  std::optional<DecodedImage> image;
  if (pixbuf) {
    image = DecodedImage{static_cast<uint32_t>(gdk_pixbuf_get_width(pixbuf)),
                         static_cast<uint32_t>(gdk_pixbuf_get_height(pixbuf)),
                         {}};
    const int channels = gdk_pixbuf_get_n_channels(pixbuf);
    const guchar* pixels = gdk_pixbuf_get_pixels(pixbuf);
    for (uint32_t y = 0; y < image->height; ++y) {
      const guchar* row = pixels + y * gdk_pixbuf_get_rowstride(pixbuf);
      for (uint32_t x = 0; x < image->width; ++x) {
        const guchar* p = row + x * channels;
        image->rgba.insert(image->rgba.end(),
                           {p[0], p[1], p[2], static_cast<guchar>(channels == 4 ? p[3] : 255)});
      }
    }
  }
  g_object_unref(loader);
  return image;
}

struct Source {
  const char* name;
  PngSource source;
  Bytes pixels;
  Bytes straight;  // what the file must hold
};

// Premultiplied BGRA with padded rows: noise, flat runs and, unless opaque,
// every kind of alpha.
Source premultiplied(const char* name, uint32_t width, uint32_t height, bool opaque) {
  Source s{name, {}, {}, {}};
  const size_t stride = size_t{width} * 4 + 12;
  s.pixels.resize(stride * height, 0xEE);
  uint32_t seed = 12345;
  for (uint32_t y = 0; y < height; ++y) {
    for (uint32_t x = 0; x < width; ++x) {
      seed = seed * 1103515245 + 12345;
      const bool flat = (x / 64 + y / 64) % 2 == 0;
      const uint8_t a = opaque ? 255 : static_cast<uint8_t>((x * 7 + y) % 256);
      uint8_t rgb[3] = {static_cast<uint8_t>(flat ? 200 : seed >> 24),
                        static_cast<uint8_t>(flat ? 30 : y), static_cast<uint8_t>(x)};
      uint8_t* p = s.pixels.data() + y * stride + x * 4;
      for (int c = 0; c < 3; ++c) {
        const uint8_t pre = static_cast<uint8_t>((rgb[c] * a + 127) / 255);
        p[2 - c] = pre;
        const unsigned back = a == 0 ? 0 : std::min(255u, (pre * 255u + a / 2) / a);
        s.straight.push_back(static_cast<uint8_t>(back));
      }
      p[3] = a;
      s.straight.push_back(a);
    }
  }
  s.source = {s.pixels.data(), width, height, stride, PngSourceLayout::kPremultipliedBgra};
  return s;
}

Source straightRgba(const char* name, uint32_t width, uint32_t height) {
  Source s{name, {}, {}, {}};
  for (uint32_t i = 0; i < width * height; ++i)
    s.pixels.insert(s.pixels.end(), {static_cast<uint8_t>(i), static_cast<uint8_t>(i >> 8), 9,
                                     static_cast<uint8_t>(i % 3 == 0 ? 128 : 255)});
  s.straight = s.pixels;
  s.source = {s.pixels.data(), width, height, size_t{width} * 4, PngSourceLayout::kStraightRgba};
  return s;
}

TEST(PngEncoder, EverySettingAndThreadCountReadsBackPixelForPixel) {
  // Big enough for several bands a thread, tall and thin, and a single pixel.
  const Source sources[] = {premultiplied("opaque screen", 700, 520, true),
                            premultiplied("translucent", 300, 900, false),
                            straightRgba("one column", 1, 3000), straightRgba("one pixel", 1, 1)};
  for (const Source& s : sources) {
    for (PngCompression compression :
         {PngCompression::kFast, PngCompression::kDefault, PngCompression::kSmall}) {
      for (unsigned threads : {1u, 3u}) {
        SCOPED_TRACE(std::string(s.name) + ", setting " +
                     std::to_string(static_cast<int>(compression)) + ", threads " +
                     std::to_string(threads));
        std::string why;
        const auto png = encodePngBytes(s.source, {compression, threads}, &why);
        ASSERT_TRUE(png) << why;
        for (const auto& decoded : {decodePngWithLibpng(*png), decodeWithPixbuf(*png)}) {
          // Compared whole but not printed: the images are large.
          EXPECT_TRUE(shape(decoded) ==
                      std::make_tuple(s.source.width, s.source.height, s.straight));
        }
      }
    }
  }
}

TEST(PngEncoder, StopsWhenTheOutputFails) {
  Source good = straightRgba("good", 4, 4);
  int calls = 0;
  std::string why;
  EXPECT_FALSE(encodePngTo(
      good.source, {}, [&](std::span<const uint8_t>) { return ++calls < 3; }, &why));
  EXPECT_EQ(calls, 3);
  EXPECT_FALSE(why.empty());
}

}  // namespace
}  // namespace dravel
