#include "platform/linux/wayland/capture/pipewire_frame.h"

#include <cstring>
#include <memory>
#include <new>

namespace dravel::linux_platform {
namespace {

// The byte offsets of blue, green and red within one pixel.
struct Order {
  int b, g, r;
};

Order orderOf(FrameLayout layout) {
  switch (layout) {
    case FrameLayout::kBGRx:
    case FrameLayout::kBGRA:
      return {0, 1, 2};
    case FrameLayout::kRGBx:
    case FrameLayout::kRGBA:
      return {2, 1, 0};
    case FrameLayout::kxRGB:
    case FrameLayout::kARGB:
      return {3, 2, 1};
    case FrameLayout::kxBGR:
    case FrameLayout::kABGR:
      return {1, 2, 3};
  }
  return {0, 1, 2};
}

CapturedImagePtr refuse(std::string* why, std::string reason) {
  if (why) *why = std::move(reason);
  return nullptr;
}

}  // namespace

CapturedImagePtr readFrame(const FrameFormat& format, const FrameBuffer& buffer, std::string* why) {
  const int64_t width = format.width;
  const int64_t height = format.height;
  if (width <= 0 || height <= 0 || width > kMaxFrameSide || height > kMaxFrameSide) {
    return refuse(why, "the stream's format has an impossible size " + std::to_string(width) +
                           " x " + std::to_string(height));
  }
  switch (buffer.memory) {
    case FrameMemory::kMemPtr:
    case FrameMemory::kMemFd:
      break;
    case FrameMemory::kDmaBuf:
      return refuse(why, "the stream sent a DMA-BUF frame, which the host does not map");
    case FrameMemory::kOther:
      return refuse(why, "the stream sent a buffer of an unexpected type");
  }
  if (!buffer.data) return refuse(why, "the stream's buffer is not mapped");
  if (buffer.corrupted) return refuse(why, "the stream marked the frame corrupted");
  if (buffer.chunkSize == 0) return refuse(why, "no picture in the frame");

  // Sides are at most 2^14, so these products stay far below 2^63.
  const int64_t rowBytes = width * 4;
  // A producer that leaves the stride out packs its rows.
  const int64_t stride = buffer.chunkStride == 0 ? rowBytes : buffer.chunkStride;
  if (stride < rowBytes || stride > rowBytes + (int64_t{1} << 16)) {
    return refuse(why, "the frame's stride " + std::to_string(buffer.chunkStride) +
                           " does not suit its width " + std::to_string(width));
  }
  const uint64_t needed = static_cast<uint64_t>(stride) * static_cast<uint64_t>(height - 1) +
                          static_cast<uint64_t>(rowBytes);
  if (buffer.chunkSize < needed) {
    return refuse(why, "the frame holds " + std::to_string(buffer.chunkSize) + " bytes, " +
                           std::to_string(needed) + " expected for " + std::to_string(width) +
                           " x " + std::to_string(height));
  }
  if (buffer.chunkOffset > buffer.mappedSize ||
      buffer.mappedSize - buffer.chunkOffset < buffer.chunkSize) {
    return refuse(why, "the frame lies outside its buffer");
  }

  FrameCrop crop{0, 0, width, height};
  if (buffer.hasCrop && buffer.crop.width > 0 && buffer.crop.height > 0) {
    const FrameCrop& c = buffer.crop;
    if (c.x < 0 || c.y < 0 || c.x > width - c.width || c.y > height - c.height || c.width > width ||
        c.height > height) {
      return refuse(why, "the frame's crop lies outside the frame");
    }
    crop = c;
  }

  auto image = std::make_shared<CapturedImage>();
  image->width = crop.width;
  image->height = crop.height;
  image->bytesPerRow = crop.width * 4;
  // The reply's own layout, in this one pass: every pixel opaque.
  image->format = PixelFormat::kBGRAPremultiplied;
  const size_t total = static_cast<size_t>(image->bytesPerRow) * static_cast<size_t>(crop.height);
  if (!canAllocate(total)) return refuse(why, "no memory for the frame");
  try {
    image->pixels.resize(total);
  } catch (const std::bad_alloc&) {
    return refuse(why, "no memory for the frame");
  }
  const uint8_t* first = buffer.data + buffer.chunkOffset;
  const Order order = orderOf(format.layout);
  for (int64_t row = 0; row < crop.height; ++row) {
    const uint8_t* from = first + static_cast<size_t>((crop.y + row) * stride + crop.x * 4);
    uint8_t* to = image->pixels.data() + static_cast<size_t>(row * image->bytesPerRow);
    if (order.b == 0 && order.g == 1 && order.r == 2) {
      copyAsOpaqueBgra(from, to, static_cast<size_t>(crop.width));
      continue;
    }
    for (int64_t x = 0; x < crop.width; ++x, from += 4, to += 4) {
      to[0] = from[order.b];
      to[1] = from[order.g];
      to[2] = from[order.r];
      to[3] = 0xff;
    }
  }
  return image;
}

}  // namespace dravel::linux_platform
