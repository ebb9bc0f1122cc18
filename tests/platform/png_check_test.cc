#include "platform/shared/png_check.h"

#include <gtest/gtest.h>
#include <png.h>
#include <zlib.h>

#include <cstring>
#include <string>
#include <vector>

#include "platform/shared/image_codec.h"

namespace dravel {
namespace {

using Bytes = std::vector<uint8_t>;

struct Chunk {
  std::string type;
  Bytes body;
  bool badCrc = false;
};

void putBe32(Bytes& out, uint32_t v) {
  for (int shift = 24; shift >= 0; shift -= 8) out.push_back(static_cast<uint8_t>(v >> shift));
}

Bytes fileOf(const std::vector<Chunk>& chunks) {
  Bytes out = {0x89, 'P', 'N', 'G', '\r', '\n', 0x1A, '\n'};
  for (const Chunk& c : chunks) {
    putBe32(out, static_cast<uint32_t>(c.body.size()));
    const size_t typeAt = out.size();
    out.insert(out.end(), c.type.begin(), c.type.end());
    out.insert(out.end(), c.body.begin(), c.body.end());
    const uLong crc = crc32(0, out.data() + typeAt, static_cast<uInt>(out.size() - typeAt));
    putBe32(out, static_cast<uint32_t>(crc) ^ (c.badCrc ? 1u : 0u));
  }
  return out;
}

Bytes header(uint32_t width, uint32_t height, uint8_t depth, uint8_t colourType) {
  Bytes body;
  putBe32(body, width);
  putBe32(body, height);
  body.insert(body.end(), {depth, colourType, 0, 0, 0});
  return body;
}

Bytes deflated(const Bytes& raw) {
  Bytes out(compressBound(static_cast<uLong>(raw.size())));
  uLongf size = static_cast<uLongf>(out.size());
  compress(out.data(), &size, raw.data(), static_cast<uLong>(raw.size()));
  out.resize(size);
  return out;
}

// `rows` filtered rows of an 8-bit image `width` wide with `channels` a
// pixel, with filter byte `filter`, or each of the five in turn for 255.
Bytes rgbRows(uint32_t width, uint32_t rows, uint8_t filter, uint32_t channels = 3) {
  Bytes raw;
  for (uint32_t y = 0; y < rows; ++y) {
    raw.push_back(filter == 255 ? static_cast<uint8_t>(y % 5) : filter);
    for (uint32_t i = 0; i < width * channels; ++i)
      raw.push_back(static_cast<uint8_t>(i * 7 + y * 31 + i * i * y));
  }
  return raw;
}

// A PNG that libpng writes: any colour type, depth and interlacing.
Bytes libpngFile(uint32_t width, uint32_t height, int depth, int colourType, bool interlaced) {
  Bytes out;
  png_structp png = png_create_write_struct(PNG_LIBPNG_VER_STRING, nullptr, nullptr, nullptr);
  png_infop info = png_create_info_struct(png);
  png_set_write_fn(
      png, &out,
      [](png_structp p, png_bytep d, png_size_t n) {
        static_cast<Bytes*>(png_get_io_ptr(p))
            ->insert(static_cast<Bytes*>(png_get_io_ptr(p))->end(), d, d + n);
      },
      nullptr);
  if (setjmp(png_jmpbuf(png))) {
    png_destroy_write_struct(&png, &info);
    return {};
  }
  png_set_IHDR(png, info, width, height, depth, colourType,
               interlaced ? PNG_INTERLACE_ADAM7 : PNG_INTERLACE_NONE, PNG_COMPRESSION_TYPE_DEFAULT,
               PNG_FILTER_TYPE_DEFAULT);
  png_color palette[16] = {};
  if (colourType == PNG_COLOR_TYPE_PALETTE) png_set_PLTE(png, info, palette, 16);
  png_write_info(png, info);
  Bytes row(png_get_rowbytes(png, info));
  for (size_t i = 0; i < row.size(); ++i) row[i] = static_cast<uint8_t>(i * 37);
  const int passes = png_set_interlace_handling(png);
  for (int pass = 0; pass < passes; ++pass)
    for (uint32_t y = 0; y < height; ++y) png_write_row(png, row.data());
  png_write_end(png, nullptr);
  png_destroy_write_struct(&png, &info);
  return out;
}

TEST(PngCheck, AgreesWithLibpngOnWhatDecodes) {
  const Bytes rows = rgbRows(5, 4, 2);
  const Bytes image = deflated(rows);
  const Chunk ihdr{"IHDR", header(5, 4, 8, 2)}, idat{"IDAT", image}, iend{"IEND", {}};
  const Bytes half1(image.begin(), image.begin() + image.size() / 2);
  const Bytes half2(image.begin() + image.size() / 2, image.end());
  Bytes badAdler = image;
  badAdler.back() ^= 1;
  const Bytes good = fileOf({ihdr, idat, iend});
  struct Case {
    const char* name;
    Bytes file;
    bool decodes;
  } cases[] = {
      {"plain", good, true},
      {"RGB, every filter",
       fileOf({{"IHDR", header(7, 10, 8, 2)}, {"IDAT", deflated(rgbRows(7, 10, 255))}, iend}),
       true},
      {"RGBA, every filter",
       fileOf({{"IHDR", header(7, 10, 8, 6)}, {"IDAT", deflated(rgbRows(7, 10, 255, 4))}, iend}),
       true},
      {"image data over several chunks", fileOf({ihdr, {"IDAT", half1}, {"IDAT", half2}, iend}),
       true},
      {"a damaged ancillary chunk", fileOf({ihdr, {"tEXt", {'a', 0, 'b'}, true}, idat, iend}),
       true},
      {"gray 1-bit, interlaced", libpngFile(13, 7, 1, PNG_COLOR_TYPE_GRAY, true), true},
      {"palette 4-bit", libpngFile(9, 3, 4, PNG_COLOR_TYPE_PALETTE, false), true},
      {"gray and alpha 16-bit, interlaced", libpngFile(3, 9, 16, PNG_COLOR_TYPE_GRAY_ALPHA, true),
       true},
      {"RGBA, interlaced, one pixel", libpngFile(1, 1, 8, PNG_COLOR_TYPE_RGB_ALPHA, true), true},
      {"truncated before the end", Bytes(good.begin(), good.end() - 13), false},
      {"no image data", fileOf({ihdr, iend}), false},
      {"a damaged header", fileOf({{"IHDR", header(5, 4, 8, 2), true}, idat, iend}), false},
      {"a damaged image chunk", fileOf({ihdr, {"IDAT", image, true}, iend}), false},
      {"a wrong Adler-32", fileOf({ihdr, {"IDAT", badAdler}, iend}), false},
      {"no Adler-32", fileOf({ihdr, {"IDAT", Bytes(image.begin(), image.end() - 4)}, iend}), false},
      {"an unknown filter", fileOf({ihdr, {"IDAT", deflated(rgbRows(5, 4, 5))}, iend}), false},
      {"rows missing", fileOf({ihdr, {"IDAT", deflated(rgbRows(5, 3, 2))}, iend}), false},
      {"an unknown critical chunk", fileOf({ihdr, {"QQQQ", {}}, idat, iend}), false},
      {"a palette image without a palette", fileOf({{"IHDR", header(5, 4, 8, 3)}, idat, iend}),
       false},
      {"a depth the colour type has not", fileOf({{"IHDR", header(5, 4, 4, 2)}, idat, iend}),
       false},
      {"more pixels than the bound", fileOf({{"IHDR", header(1 << 14, 1 << 14, 8, 2)}, idat, iend}),
       false},
      {"not a PNG", Bytes{'G', 'I', 'F', '8', '9', 'a'}, false},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    ASSERT_FALSE(c.file.empty());
    const std::optional<DecodedImage> reference = decodePngWithLibpng(c.file);
    EXPECT_EQ(reference.has_value(), c.decodes);  // the table means what it says
    EXPECT_EQ(isDecodablePng(c.file), c.decodes);
    // The quick decoder, where it takes the file, gives libpng's pixels.
    bool handled = false;
    const std::optional<DecodedImage> quick = decodeCommonPng(c.file, &handled);
    if (handled) {
      ASSERT_EQ(quick.has_value(), c.decodes);
      if (quick) {
        EXPECT_EQ(quick->rgba, reference->rgba);
      }
    }
  }
  // Cut anywhere, the file no longer decodes.
  for (size_t size = 0; size < good.size(); ++size)
    EXPECT_FALSE(isDecodablePng(std::span(good).first(size))) << size;
}

}  // namespace
}  // namespace dravel
