// The check of one screen-cast buffer against the stream's format: what a
// well-behaved producer sends becomes the right pixels, anything else a
// reason, never a read outside the buffer (the buffers here are exactly as
// large as they claim, so ASan sees any overreach).
#include <gtest/gtest.h>

#include <cstdint>
#include <vector>

#include "platform/linux/pipewire_frame.h"

namespace dravel::linux_platform {
namespace {

// A 3 x 2 frame whose pixel (x, y) holds bytes 40k + 10x + y (k = 0..3) in
// memory, rows `stride` bytes apart, behind `offset` bytes of something else.
std::vector<uint8_t> frameBytes(int64_t stride, uint64_t offset) {
  std::vector<uint8_t> bytes(offset + static_cast<size_t>(stride) * 2, 0xee);
  for (int y = 0; y < 2; ++y) {
    for (int x = 0; x < 3; ++x) {
      for (int k = 0; k < 4; ++k) {
        bytes[offset + y * stride + x * 4 + k] = static_cast<uint8_t>(40 * k + 10 * x + y);
      }
    }
  }
  return bytes;
}

FrameBuffer bufferOver(const std::vector<uint8_t>& bytes, int64_t stride, uint64_t offset) {
  FrameBuffer b;
  b.data = bytes.data();
  b.mappedSize = bytes.size();
  b.chunkOffset = offset;
  b.chunkSize = bytes.size() - offset;
  b.chunkStride = stride;
  return b;
}

TEST(PipeWireFrame, EachLayoutBecomesOpaqueBgrxOfTheFrameOrItsCrop) {
  struct Case {
    const char* what;
    FrameLayout layout;
    int64_t stride;
    uint64_t offset;
    bool crop;  // the right two pixels of the lower row
    // The first and last pixel of the image, and its width x height.
    std::vector<uint8_t> first, last;
    int64_t width, height;
  };
  using P = std::vector<uint8_t>;
  const Case cases[] = {
      {"packed BGRx is copied as it is",
       FrameLayout::kBGRx,
       12,
       0,
       false,
       {0, 40, 80, 120},
       {21, 61, 101, 141},
       3,
       2},
      {"no stride given means packed rows",
       FrameLayout::kBGRx,
       0,
       0,
       false,
       {0, 40, 80, 120},
       {21, 61, 101, 141},
       3,
       2},
      {"padded rows and an offset",
       FrameLayout::kBGRA,
       20,
       8,
       false,
       {0, 40, 80, 120},
       {21, 61, 101, 141},
       3,
       2},
      {"RGBx swaps red and blue",
       FrameLayout::kRGBx,
       12,
       0,
       false,
       {80, 40, 0, 0xff},
       {101, 61, 21, 0xff},
       3,
       2},
      {"RGBA likewise, made opaque",
       FrameLayout::kRGBA,
       12,
       0,
       false,
       {80, 40, 0, 0xff},
       {101, 61, 21, 0xff},
       3,
       2},
      {"xRGB starts with the padding",
       FrameLayout::kxRGB,
       12,
       0,
       false,
       {120, 80, 40, 0xff},
       {141, 101, 61, 0xff},
       3,
       2},
      {"ARGB likewise",
       FrameLayout::kARGB,
       12,
       0,
       false,
       {120, 80, 40, 0xff},
       {141, 101, 61, 0xff},
       3,
       2},
      {"xBGR ends in red",
       FrameLayout::kxBGR,
       12,
       0,
       false,
       {40, 80, 120, 0xff},
       {61, 101, 141, 0xff},
       3,
       2},
      {"ABGR likewise",
       FrameLayout::kABGR,
       12,
       0,
       false,
       {40, 80, 120, 0xff},
       {61, 101, 141, 0xff},
       3,
       2},
      {"a crop keeps its part only",
       FrameLayout::kBGRx,
       16,
       4,
       true,
       {11, 51, 91, 131},
       {21, 61, 101, 141},
       2,
       1},
  };
  for (const Case& c : cases) {
    const std::vector<uint8_t> bytes = frameBytes(c.stride ? c.stride : 12, c.offset);
    FrameBuffer buffer = bufferOver(bytes, c.stride, c.offset);
    if (c.crop) {
      buffer.hasCrop = true;
      buffer.crop = {1, 1, 2, 1};
    }
    std::string why;
    const CapturedImagePtr image = readFrame({c.layout, 3, 2}, buffer, &why);
    ASSERT_TRUE(image) << c.what << ": " << why;
    EXPECT_EQ(image->format, PixelFormat::kBGRX) << c.what;
    EXPECT_EQ(image->width, c.width) << c.what;
    EXPECT_EQ(image->height, c.height) << c.what;
    EXPECT_EQ(image->bytesPerRow, c.width * 4) << c.what;
    ASSERT_EQ(image->pixels.size(), static_cast<size_t>(c.width * c.height * 4)) << c.what;
    EXPECT_EQ(P(image->pixels.begin(), image->pixels.begin() + 4), c.first) << c.what;
    EXPECT_EQ(P(image->pixels.end() - 4, image->pixels.end()), c.last) << c.what;
  }
}

TEST(PipeWireFrame, BuffersThatDisagreeWithTheFormatAreRefused) {
  struct Case {
    const char* what;
    void (*spoil)(FrameFormat&, FrameBuffer&);
  };
  const Case cases[] = {
      {"a format without size", [](FrameFormat& f, FrameBuffer&) { f.width = 0; }},
      {"a side beyond any screen", [](FrameFormat& f, FrameBuffer&) { f.height = 1 << 20; }},
      {"DMA-BUF memory", [](FrameFormat&, FrameBuffer& b) { b.memory = FrameMemory::kDmaBuf; }},
      {"memory of unknown type",
       [](FrameFormat&, FrameBuffer& b) { b.memory = FrameMemory::kOther; }},
      {"an unmapped buffer", [](FrameFormat&, FrameBuffer& b) { b.data = nullptr; }},
      {"a corrupted chunk", [](FrameFormat&, FrameBuffer& b) { b.corrupted = true; }},
      {"an empty chunk", [](FrameFormat&, FrameBuffer& b) { b.chunkSize = 0; }},
      {"a stride below the width", [](FrameFormat&, FrameBuffer& b) { b.chunkStride = 11; }},
      {"a negative stride", [](FrameFormat&, FrameBuffer& b) { b.chunkStride = -12; }},
      {"an absurd stride", [](FrameFormat&, FrameBuffer& b) { b.chunkStride = INT64_MAX; }},
      {"a chunk smaller than the format's rows",
       [](FrameFormat&, FrameBuffer& b) { b.chunkSize -= 1; }},
      {"a format larger than the chunk", [](FrameFormat& f, FrameBuffer&) { f.height = 3; }},
      {"a chunk beyond the mapping", [](FrameFormat&, FrameBuffer& b) { b.chunkOffset = 1; }},
      {"an offset beyond the mapping", [](FrameFormat&, FrameBuffer& b) { b.chunkOffset = 25; }},
      {"offset and size that overflow together",
       [](FrameFormat&, FrameBuffer& b) {
         b.chunkOffset = UINT64_MAX - 8;
         b.chunkSize = 24;
       }},
      {"a size that overflows", [](FrameFormat&, FrameBuffer& b) { b.chunkSize = UINT64_MAX; }},
      {"a crop beyond the frame",
       [](FrameFormat&, FrameBuffer& b) {
         b.hasCrop = true;
         b.crop = {2, 0, 2, 2};
       }},
      {"a crop at a negative place",
       [](FrameFormat&, FrameBuffer& b) {
         b.hasCrop = true;
         b.crop = {-1, 0, 1, 1};
       }},
      {"a crop whose far edge overflows",
       [](FrameFormat&, FrameBuffer& b) {
         b.hasCrop = true;
         b.crop = {INT64_MAX, 0, 1, 1};
       }},
  };
  const std::vector<uint8_t> bytes = frameBytes(12, 0);
  for (const Case& c : cases) {
    FrameFormat format{FrameLayout::kBGRx, 3, 2};
    FrameBuffer buffer = bufferOver(bytes, 12, 0);
    c.spoil(format, buffer);
    std::string why;
    EXPECT_FALSE(readFrame(format, buffer, &why)) << c.what;
    EXPECT_FALSE(why.empty()) << c.what;
  }
}

}  // namespace
}  // namespace dravel::linux_platform
