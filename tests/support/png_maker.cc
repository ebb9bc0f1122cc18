#include "tests/support/png_maker.h"

#include <png.h>
#include <zlib.h>

#include <cstring>
#include <random>
#include <stdexcept>
#include <vector>

namespace dravel::testing {
namespace {

void appendBytes(png_structp png, png_bytep data, png_size_t length) {
  auto* out = static_cast<ByteBuffer*>(png_get_io_ptr(png));
  out->insert(out->end(), data, data + length);
}

void flushNothing(png_structp /*png*/) {}

void putBe32(ByteBuffer& out, uint32_t v) {
  for (int shift = 24; shift >= 0; shift -= 8) out.push_back(static_cast<uint8_t>(v >> shift));
}

void putChunk(ByteBuffer& out, const char* type, const ByteBuffer& body) {
  putBe32(out, static_cast<uint32_t>(body.size()));
  const size_t typeAt = out.size();
  out.insert(out.end(), type, type + 4);
  out.insert(out.end(), body.begin(), body.end());
  const uLong crc = crc32(0, out.data() + typeAt, static_cast<uInt>(out.size() - typeAt));
  putBe32(out, static_cast<uint32_t>(crc));
}

// libpng's errors jump back here; only trivially destructible locals.
bool writeImage(png_structp png, png_infop info, uint32_t width, uint32_t height,
                const uint8_t* row) {
  if (setjmp(png_jmpbuf(png))) return false;
  png_set_compression_level(png, 1);
  png_set_IHDR(png, info, width, height, 8, PNG_COLOR_TYPE_RGB_ALPHA, PNG_INTERLACE_NONE,
               PNG_COMPRESSION_TYPE_DEFAULT, PNG_FILTER_TYPE_DEFAULT);
  png_write_info(png, info);
  for (uint32_t y = 0; y < height; ++y) png_write_row(png, const_cast<uint8_t*>(row));
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

ByteBuffer uniformPng(uint32_t width, uint32_t height, uint8_t grey) {
  ByteBuffer out;
  std::vector<uint8_t> row(size_t{width} * 4, grey);
  for (size_t x = 3; x < row.size(); x += 4) row[x] = 255;
  png_structp png = png_create_write_struct(PNG_LIBPNG_VER_STRING, nullptr, nullptr, nullptr);
  png_infop info = png_create_info_struct(png);
  png_set_write_fn(png, &out, appendBytes, flushNothing);
  const bool written = writeImage(png, info, width, height, row.data());
  png_destroy_write_struct(&png, &info);
  if (!written) throw std::runtime_error("the test image could not be encoded");
  return out;
}

ByteBuffer pngDeclaring(uint32_t width, uint32_t height) {
  ByteBuffer out = {0x89, 'P', 'N', 'G', '\r', '\n', 0x1a, '\n'};
  ByteBuffer header;
  putBe32(header, width);
  putBe32(header, height);
  header.insert(header.end(), {8, 6, 0, 0, 0});  // 8-bit RGBA, not interlaced
  putChunk(out, "IHDR", header);
  // A few rows' worth of zeros: filter byte 0 and black, transparent pixels.
  std::vector<uint8_t> rows(64 * 1024, 0);
  ByteBuffer data(compressBound(static_cast<uLong>(rows.size())));
  uLongf size = static_cast<uLongf>(data.size());
  compress(data.data(), &size, rows.data(), static_cast<uLong>(rows.size()));
  data.resize(size);
  putChunk(out, "IDAT", data);
  putChunk(out, "IEND", {});
  return out;
}

}  // namespace dravel::testing
