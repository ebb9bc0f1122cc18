// One buffer of a PipeWire video stream, checked against the stream's
// negotiated format and copied into an image.
//
// Everything here comes from another process (the compositor or the portal
// behind the stream): the sizes, the stride, the chunk's offset and size. A
// buffer that disagrees with the format in any way is refused with a reason;
// nothing outside the mapped memory is ever read. Free of PipeWire itself, so
// that tests and the fuzz target call it directly.
#pragma once

#include <cstdint>
#include <string>

#include "platform/seam/captured_image.h"

namespace dravel::linux_platform {

// The byte order of one 32-bit pixel in memory, as PipeWire names the raw
// video formats. A screen is opaque: alpha, where a format has it, is not
// kept.
enum class FrameLayout { kBGRx, kBGRA, kRGBx, kRGBA, kxRGB, kxBGR, kARGB, kABGR };

// Where a buffer's bytes live, as the stream announced it.
enum class FrameMemory { kMemPtr, kMemFd, kDmaBuf, kOther };

struct FrameFormat {
  FrameLayout layout = FrameLayout::kBGRx;
  int64_t width = 0;
  int64_t height = 0;
};

// A part of the frame that holds the picture (the stream's crop metadata).
struct FrameCrop {
  int64_t x = 0;
  int64_t y = 0;
  int64_t width = 0;
  int64_t height = 0;
};

struct FrameBuffer {
  // The mapped memory of the buffer's first data plane, `mappedSize` bytes.
  const uint8_t* data = nullptr;
  uint64_t mappedSize = 0;
  FrameMemory memory = FrameMemory::kMemFd;
  // The chunk: where the frame starts in the mapping, how many bytes it
  // holds, the bytes from one row to the next.
  uint64_t chunkOffset = 0;
  uint64_t chunkSize = 0;
  int64_t chunkStride = 0;
  // The producer marked the chunk corrupted.
  bool corrupted = false;
  // Where the picture lies in the frame, when the stream says; else whole.
  bool hasCrop = false;
  FrameCrop crop;
};

// The largest frame side accepted (no screen is larger).
constexpr int64_t kMaxFrameSide = 16384;

// The frame as an opaque BGRX image of the format's size (or the crop's), or
// null with the reason in `why`. A chunk of size 0 carries no picture (a
// stream sends those for a pointer move alone): null, "no picture".
CapturedImagePtr readFrame(const FrameFormat& format, const FrameBuffer& buffer, std::string* why);

}  // namespace dravel::linux_platform
