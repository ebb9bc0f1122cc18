// The check of one screen-cast buffer against the stream's format: what a
// well-behaved producer sends becomes the right pixels, anything else a
// reason, never a read outside the buffer (the buffers here are exactly as
// large as they claim, so ASan sees any overreach).
#include <gtest/gtest.h>

#include <cstdint>
#include <vector>

#include "platform/linux/wayland/capture/pipewire_frame.h"

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

TEST(PipeWireFrame, EachLayoutBecomesOpaqueBgraOfTheFrameOrItsCrop) {
  // The first and last pixel of the image: the bytes of frameBytes' pixel
  // (0, 0) and (2, 1) are 40k and 40k + 21.
  using P = std::vector<uint8_t>;
  const P bgrx = {0, 40, 80, 0xff}, rgb = {80, 40, 0, 0xff}, xrgb = {120, 80, 40, 0xff};
  auto last = [](P first) {
    for (size_t k = 0; k < 4; ++k) first[k] += first[k] == 0xff ? 0 : 21;
    return first;
  };
  struct Case {
    const char* what;
    FrameLayout layout;
    int64_t stride;
    uint64_t offset;
    P first;
  };
  const Case cases[] = {
      {"no stride given means packed rows", FrameLayout::kBGRx, 0, 0, bgrx},
      {"padded rows and an offset", FrameLayout::kBGRA, 20, 8, bgrx},
      {"RGBx swaps red and blue", FrameLayout::kRGBx, 12, 0, rgb},
      {"xRGB starts with the padding", FrameLayout::kxRGB, 12, 0, xrgb},
      {"a crop keeps its part only", FrameLayout::kBGRx, 16, 4, {11, 51, 91, 0xff}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    const bool crop = c.first[0] == 11;  // the right two pixels of the lower row
    const int64_t width = crop ? 2 : 3, height = crop ? 1 : 2;
    const std::vector<uint8_t> bytes = frameBytes(c.stride ? c.stride : 12, c.offset);
    FrameBuffer buffer = bufferOver(bytes, c.stride, c.offset);
    if (crop) {
      buffer.hasCrop = true;
      buffer.crop = {1, 1, 2, 1};
    }
    std::string why;
    const CapturedImagePtr image = readFrame({c.layout, 3, 2}, buffer, &why);
    ASSERT_TRUE(image) << why;
    EXPECT_EQ(image->format, PixelFormat::kBGRAPremultiplied);
    EXPECT_EQ(image->width, width);
    EXPECT_EQ(image->height, height);
    EXPECT_EQ(image->bytesPerRow, width * 4);
    ASSERT_EQ(image->pixels.size(), static_cast<size_t>(width * height * 4));
    EXPECT_EQ(P(image->pixels.begin(), image->pixels.begin() + 4), c.first);
    EXPECT_EQ(P(image->pixels.end() - 4, image->pixels.end()), last(crop ? bgrx : c.first));
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
      {"an unmapped buffer", [](FrameFormat&, FrameBuffer& b) { b.data = nullptr; }},
      {"a corrupted chunk", [](FrameFormat&, FrameBuffer& b) { b.corrupted = true; }},
      {"a stride below the width", [](FrameFormat&, FrameBuffer& b) { b.chunkStride = 11; }},
      {"an absurd stride", [](FrameFormat&, FrameBuffer& b) { b.chunkStride = INT64_MAX; }},
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
