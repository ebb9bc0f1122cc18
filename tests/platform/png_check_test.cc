#include "platform/shared/png_check.h"

#include <gtest/gtest.h>
#include <png.h>

#include <string>
#include <vector>

#include "platform/shared/image_codec.h"
#include "tests/support/png_maker.h"

namespace dravel {
namespace {

using Bytes = std::vector<uint8_t>;
using testing::deflated;
using testing::PngChunk;
using testing::pngWithLayout;
// The file of these chunks, and the body of an IHDR.
const auto fileOf = testing::pngOfChunks;
const auto header = testing::pngHeader;

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

// A PNG that libpng writes: any colour type but palette, any depth and
// interlacing.
Bytes libpngFile(uint32_t width, uint32_t height, int depth, int colourType, bool interlaced) {
  const int channels[] = {1, 0, 3, 1, 2, 0, 4};  // by colour type
  Bytes row((size_t{width} * channels[colourType] * depth + 7) / 8);
  for (size_t i = 0; i < row.size(); ++i) row[i] = static_cast<uint8_t>(i * 37);
  return pngWithLayout({width, height, depth, colourType, interlaced, row, true, {}});
}

TEST(PngCheck, AgreesWithLibpngOnWhatDecodes) {
  const Bytes rows = rgbRows(5, 4, 2);
  const Bytes image = deflated(rows);
  const PngChunk ihdr{"IHDR", header(5, 4, 8, 2)}, idat{"IDAT", image}, iend{"IEND", {}};
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
      {"RGB, every filter",
       fileOf({{"IHDR", header(7, 10, 8, 2)}, {"IDAT", deflated(rgbRows(7, 10, 255))}, iend}),
       true},
      {"image data over several chunks", fileOf({ihdr, {"IDAT", half1}, {"IDAT", half2}, iend}),
       true},
      {"a damaged ancillary chunk", fileOf({ihdr, {"tEXt", {'a', 0, 'b'}, true}, idat, iend}),
       true},
      {"gray 1-bit, interlaced", libpngFile(13, 7, 1, PNG_COLOR_TYPE_GRAY, true), true},
      {"RGBA, interlaced, one pixel", libpngFile(1, 1, 8, PNG_COLOR_TYPE_RGB_ALPHA, true), true},
      {"no image data", fileOf({ihdr, iend}), false},
      {"a damaged image chunk", fileOf({ihdr, {"IDAT", image, true}, iend}), false},
      {"a wrong Adler-32", fileOf({ihdr, {"IDAT", badAdler}, iend}), false},
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
