// PNG files for tests: written by libpng in any layout, put together chunk
// by chunk, or made for tests of image limits without holding their pixels.
#pragma once

#include <array>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "channels/value.h"
#include "platform/shared/image_codec.h"

namespace dravel::testing {

// RGBA pixels of noise from `seed`, which no PNG compresses; opaque or with
// noise for alpha too.
DecodedImage noiseImage(uint32_t width, uint32_t height, uint32_t seed, bool opaque);

// A PNG as libpng writes it, in any of the layouts the format has.
struct PngLayout {
  uint32_t width;
  uint32_t height;
  int bitDepth;
  int colorType;  // PNG_COLOR_TYPE_*
  bool interlaced = false;
  // Packed rows as stored, 16-bit samples big-endian. Empty: the header and
  // a token IDAT only, enough for a reader to get as far as allocating the
  // pixels.
  ByteBuffer rows = {};
  bool repeatRow = false;        // `rows` holds one row, written for every row
  ByteBuffer palette = {};       // red, green, blue a colour
  ByteBuffer paletteAlpha = {};  // the tRNS of a palette image
  std::optional<std::array<uint16_t, 3>> colorKey = {};  // the tRNS of a grey or RGB one
};
ByteBuffer pngWithLayout(const PngLayout& layout);

// A valid RGBA PNG of one grey level, written row by row.
ByteBuffer uniformPng(uint32_t width, uint32_t height, uint8_t grey);

// The PNG signature and these chunks, each with its CRC (spoiled when asked).
struct PngChunk {
  std::string type;
  ByteBuffer body;
  bool badCrc = false;
};
ByteBuffer pngOfChunks(const std::vector<PngChunk>& chunks);

// The body of an IHDR chunk, not interlaced.
ByteBuffer pngHeader(uint32_t width, uint32_t height, uint8_t depth, uint8_t colourType);

// `raw` as one zlib stream.
ByteBuffer deflated(const ByteBuffer& raw);

// A PNG whose header declares `width` x `height` RGBA pixels but whose image
// data holds only a few kilobytes of rows: what an image bomb looks like up
// to the point where a decoder commits to its size.
ByteBuffer pngDeclaring(uint32_t width, uint32_t height);

}  // namespace dravel::testing
