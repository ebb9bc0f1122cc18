#include "tests/support/png_maker.h"

#include <png.h>
#include <zlib.h>

#include <cstring>
#include <random>
#include <stdexcept>

namespace dravel::testing {
namespace {

void failPng(png_structp png, png_const_charp) {
  png_longjmp(png, 1);
}
void ignorePng(png_structp, png_const_charp) {}
void appendBytes(png_structp png, png_bytep data, png_size_t length) {
  auto* out = static_cast<ByteBuffer*>(png_get_io_ptr(png));
  out->insert(out->end(), data, data + length);
}
void flushNothing(png_structp /*png*/) {}

void putBe32(ByteBuffer& out, uint32_t v) {
  for (int shift = 24; shift >= 0; shift -= 8) out.push_back(static_cast<uint8_t>(v >> shift));
}

// libpng's errors jump back here; only trivially destructible locals.
bool writeLayout(png_structp png, png_infop info, const PngLayout* layout,
                 const std::vector<png_color>* palette) {
  if (setjmp(png_jmpbuf(png))) return false;
  png_set_compression_level(png, 1);
  png_set_IHDR(png, info, layout->width, layout->height, layout->bitDepth, layout->colorType,
               layout->interlaced ? PNG_INTERLACE_ADAM7 : PNG_INTERLACE_NONE,
               PNG_COMPRESSION_TYPE_DEFAULT, PNG_FILTER_TYPE_DEFAULT);
  if (!palette->empty()) {
    png_set_PLTE(png, info, palette->data(), static_cast<int>(palette->size()));
  }
  png_color_16 key{};
  if (layout->colorKey) {
    key.red = (*layout->colorKey)[0];
    key.green = (*layout->colorKey)[1];
    key.blue = (*layout->colorKey)[2];
    key.gray = key.red;
  }
  if (!layout->paletteAlpha.empty() || layout->colorKey) {
    png_set_tRNS(png, info, layout->paletteAlpha.data(),
                 static_cast<int>(layout->paletteAlpha.size()), layout->colorKey ? &key : nullptr);
  }
  png_write_info(png, info);
  if (layout->rows.empty()) {
    static const png_byte kIdat[] = {'I', 'D', 'A', 'T', 0};
    static const png_byte kToken[] = {0x78, 0x9c, 0x03, 0x00};
    png_write_chunk(png, kIdat, kToken, sizeof kToken);
    return true;
  }
  const size_t stride = layout->repeatRow ? 0 : layout->rows.size() / layout->height;
  const int passes = png_set_interlace_handling(png);
  for (int pass = 0; pass < passes; ++pass) {
    for (uint32_t y = 0; y < layout->height; ++y) {
      png_write_row(png, layout->rows.data() + y * stride);
    }
  }
  png_write_end(png, nullptr);
  return true;
}

}  // namespace

DecodedImage noiseImage(uint32_t width, uint32_t height, uint32_t seed, bool opaque) {
  DecodedImage image{width, height, ByteBuffer(size_t{width} * height * 4)};
  std::mt19937 random(seed);
  for (size_t i = 0; i < image.rgba.size(); i += 4) {
    const uint32_t r = random() | (opaque ? 0xff000000u : 0);
    std::memcpy(&image.rgba[i], &r, 4);
  }
  return image;
}

ByteBuffer pngWithLayout(const PngLayout& layout) {
  std::vector<png_color> palette;
  for (size_t i = 0; i + 2 < layout.palette.size(); i += 3) {
    palette.push_back({layout.palette[i], layout.palette[i + 1], layout.palette[i + 2]});
  }
  ByteBuffer out;
  png_structp png = png_create_write_struct(PNG_LIBPNG_VER_STRING, nullptr, failPng, ignorePng);
  png_infop info = png_create_info_struct(png);
  png_set_write_fn(png, &out, appendBytes, flushNothing);
  const bool written = writeLayout(png, info, &layout, &palette);
  png_destroy_write_struct(&png, &info);
  if (!written) throw std::runtime_error("the test image could not be encoded");
  return out;
}

ByteBuffer uniformPng(uint32_t width, uint32_t height, uint8_t grey) {
  ByteBuffer row(size_t{width} * 4, grey);
  for (size_t x = 3; x < row.size(); x += 4) row[x] = 255;
  return pngWithLayout({width, height, 8, PNG_COLOR_TYPE_RGB_ALPHA, false, row, true});
}

ByteBuffer pngOfChunks(const std::vector<PngChunk>& chunks) {
  ByteBuffer out = {0x89, 'P', 'N', 'G', '\r', '\n', 0x1a, '\n'};
  for (const PngChunk& c : chunks) {
    putBe32(out, static_cast<uint32_t>(c.body.size()));
    const size_t typeAt = out.size();
    out.insert(out.end(), c.type.begin(), c.type.end());
    out.insert(out.end(), c.body.begin(), c.body.end());
    const uLong crc = crc32(0, out.data() + typeAt, static_cast<uInt>(out.size() - typeAt));
    putBe32(out, static_cast<uint32_t>(crc) ^ (c.badCrc ? 1u : 0u));
  }
  return out;
}

ByteBuffer pngHeader(uint32_t width, uint32_t height, uint8_t depth, uint8_t colourType) {
  ByteBuffer body;
  putBe32(body, width);
  putBe32(body, height);
  body.insert(body.end(), {depth, colourType, 0, 0, 0});
  return body;
}

ByteBuffer deflated(const ByteBuffer& raw) {
  ByteBuffer out(compressBound(static_cast<uLong>(raw.size())));
  uLongf size = static_cast<uLongf>(out.size());
  compress(out.data(), &size, raw.data(), static_cast<uLong>(raw.size()));
  out.resize(size);
  return out;
}

ByteBuffer pngDeclaring(uint32_t width, uint32_t height) {
  // 8-bit RGBA, then a few rows' worth of zeros: filter byte 0 and black,
  // transparent pixels.
  return pngOfChunks({{"IHDR", pngHeader(width, height, 8, 6)},
                      {"IDAT", deflated(ByteBuffer(64 * 1024, 0))},
                      {"IEND", {}}});
}

}  // namespace dravel::testing
