// Checks arbitrary screen-cast buffers against arbitrary formats: the first
// bytes choose the format, the chunk and the crop, the rest is the mapped
// memory (exactly as large as it is, so that any read beyond it is caught).
// Whatever is accepted must be an opaque image of the size asked for.
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <vector>

#include "platform/linux/wayland/capture/pipewire_frame.h"

namespace {

using dravel::linux_platform::FrameBuffer;
using dravel::linux_platform::FrameFormat;
using dravel::linux_platform::FrameLayout;
using dravel::linux_platform::FrameMemory;

void check(bool ok, const char* what) {
  if (ok) return;
  std::fprintf(stderr, "pipewire_frame_fuzz: %s\n", what);
  std::abort();
}

// Reads the next value of the header, or zero once it runs out.
template <typename T>
T take(const uint8_t*& data, size_t& size) {
  T value{};
  const size_t n = size < sizeof(T) ? size : sizeof(T);
  std::memcpy(&value, data, n);
  data += n;
  size -= n;
  return value;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  FrameFormat format;
  format.layout = static_cast<FrameLayout>(take<uint8_t>(data, size) % 8);
  // Small sides mostly, so that accepted frames are common.
  format.width = take<int16_t>(data, size);
  format.height = take<int16_t>(data, size);
  FrameBuffer buffer;
  buffer.memory = static_cast<FrameMemory>(take<uint8_t>(data, size) % 4);
  buffer.chunkOffset = take<uint16_t>(data, size);
  buffer.chunkSize = take<uint32_t>(data, size);
  buffer.chunkStride = take<int32_t>(data, size);
  const uint8_t flags = take<uint8_t>(data, size);
  buffer.corrupted = (flags & 1) != 0;
  buffer.hasCrop = (flags & 2) != 0;
  buffer.crop = {take<int32_t>(data, size), take<int32_t>(data, size), take<uint16_t>(data, size),
                 take<uint16_t>(data, size)};
  // A copy of its own, so that the mapping ends where the input does.
  const std::vector<uint8_t> mapped(data, data + size);
  buffer.data = mapped.empty() ? nullptr : mapped.data();
  buffer.mappedSize = mapped.size();

  std::string why;
  const dravel::CapturedImagePtr image = dravel::linux_platform::readFrame(format, buffer, &why);
  if (!image) {
    check(!why.empty(), "a refusal without a reason");
    return 0;
  }
  check(image->format == dravel::PixelFormat::kBGRAPremultiplied, "an image of another format");
  check(image->width > 0 && image->height > 0, "an empty image");
  check(image->width <= format.width && image->height <= format.height,
        "an image larger than the frame");
  check(image->bytesPerRow == image->width * 4, "an image with padded rows");
  check(image->pixels.size() == static_cast<size_t>(image->bytesPerRow * image->height),
        "pixels that do not fill the image");
  check(!buffer.corrupted && buffer.memory != FrameMemory::kDmaBuf &&
            buffer.memory != FrameMemory::kOther,
        "a buffer accepted that should have been refused");
  return 0;
}
