// Frames of the local socket between the interface (or a client such as
// dravelctl) and the host. Every frame is
//
//   u32 length      bytes that follow this field (little-endian)
//   u8  kind        1 = call, 2 = reply
//   u8  flags       0 (reserved)
//   u16 channelLen  length of the channel name (little-endian)
//   u64 requestId   (little-endian); in a call, 0 means "no reply wanted"
//   channel name    channelLen bytes of UTF-8 (empty in a reply)
//   payload         the rest: a standard-codec message; in a reply, empty
//                   means that nobody handled the call
//
// docs/framing.md describes the protocol.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <new>
#include <span>
#include <string>
#include <utility>
#include <vector>

#include <sys/uio.h>

#include "channels/message.h"

namespace dravel {

enum class FrameKind : uint8_t {
  kCall = 1,
  kReply = 2,
};

inline constexpr size_t kFrameLengthFieldSize = 4;
// kind, flags, channelLen, requestId: the part of the header counted in `length`.
inline constexpr size_t kFrameFixedSize = 12;
inline constexpr size_t kFrameHeaderSize = kFrameLengthFieldSize + kFrameFixedSize;
inline constexpr size_t kMaxChannelNameSize = 1024;
// Larger than any screen a capture can return (an 8K screen is 133 MB).
inline constexpr size_t kDefaultMaxFrameSize = size_t{256} << 20;
// The largest payload a reply frame can carry within kDefaultMaxFrameSize (a
// reply has no channel name): what the host may send is what every reader
// takes.
inline constexpr size_t kMaxReplyPayloadSize = kDefaultMaxFrameSize - kFrameFixedSize;

// Allocates without zeroing what it makes: a payload buffer is filled by
// read() right away, so zeroing tens of megabytes first would be wasted work.
// Large buffers are asked to be backed by huge pages, so that the kernel's
// copy into them takes a handful of page faults rather than thousands.
void* allocateFrameBuffer(size_t bytes);
void releaseFrameBuffer(void* p, size_t bytes) noexcept;

template <typename T>
struct UninitializedAllocator {
  using value_type = T;
  UninitializedAllocator() = default;
  template <typename U>
  UninitializedAllocator(const UninitializedAllocator<U>&) noexcept {}
  T* allocate(size_t n) { return static_cast<T*>(allocateFrameBuffer(n * sizeof(T))); }
  void deallocate(T* p, size_t n) noexcept { releaseFrameBuffer(p, n * sizeof(T)); }
  template <typename U>
  void construct(U* p) noexcept {
    ::new (static_cast<void*>(p)) U;
  }
  template <typename U, typename... Args>
  void construct(U* p, Args&&... args) {
    ::new (static_cast<void*>(p)) U(std::forward<Args>(args)...);
  }
  template <typename U>
  bool operator==(const UninitializedAllocator<U>&) const noexcept {
    return true;
  }
};

using FrameBuffer = std::vector<uint8_t, UninitializedAllocator<uint8_t>>;

struct Frame {
  FrameKind kind = FrameKind::kCall;
  uint64_t requestId = 0;
  std::string channel;
  FrameBuffer payload;
};

// The header of a frame, encoded. The payload follows it as-is, so a large
// payload is written from where it lies (see frameMessage).
std::vector<uint8_t> encodeFrameHeader(FrameKind kind, uint64_t requestId,
                                       const std::string& channel, size_t payloadSize);

// A whole frame as the pieces of one message: the header, then the payload's
// pieces unchanged (no copy of their bytes).
Message frameMessage(FrameKind kind, uint64_t requestId, const std::string& channel,
                     const Message& payload);

// Reads frames from a byte stream, in any chunking. The reader hands out the
// space where the next bytes belong, so a large payload is read straight into
// the frame's own buffer.
class FrameReader {
 public:
  enum class Status { kNeedMore, kFrame, kError };

  explicit FrameReader(size_t maxFrameSize = kDefaultMaxFrameSize);

  // Where the next bytes go; never empty unless the reader failed. The
  // payload's buffer is allocated here, when its first byte is asked for
  // (running out of memory then fails the stream).
  std::span<uint8_t> space();
  // Takes `n` bytes written into space(). Returns kFrame when a frame is
  // complete (take it with takeFrame()), kError when the stream is bad (see
  // error(); the reader stays failed), else kNeedMore.
  Status commit(size_t n);
  Frame takeFrame();

  // Copies `bytes` in, calling `onFrame` for each complete frame. Returns false
  // on a bad stream.
  template <typename F>
  bool feed(std::span<const uint8_t> bytes, F&& onFrame);

  const std::string& error() const { return error_; }
  bool failed() const { return failed_; }
  // True when some bytes of an unfinished frame are held: the stream ended
  // in the middle of a frame.
  bool midFrame() const { return headerFill_ > 0; }
  // The bytes of channel name and payload that the frame under way announces,
  // once its header is in (0 before and between frames): what its buffer
  // will take.
  size_t bodySize() const { return inBody_ ? frame_.channel.size() + payloadSize_ : 0; }

 private:
  Status fail(std::string why);

  size_t maxFrameSize_;
  std::array<uint8_t, kFrameHeaderSize> header_{};
  size_t headerFill_ = 0;
  bool inBody_ = false;
  size_t bodyFill_ = 0;  // bytes of channel name and payload received
  size_t payloadSize_ = 0;
  bool payloadAllocated_ = false;
  Frame frame_;
  bool failed_ = false;
  std::string error_;
};

template <typename F>
bool FrameReader::feed(std::span<const uint8_t> bytes, F&& onFrame) {
  while (!bytes.empty()) {
    if (failed_) return false;
    std::span<uint8_t> room = space();
    size_t n = std::min(room.size(), bytes.size());
    std::copy(bytes.begin(), bytes.begin() + static_cast<std::ptrdiff_t>(n), room.begin());
    bytes = bytes.subspan(n);
    Status status = commit(n);
    if (status == Status::kError) return false;
    if (status == Status::kFrame) onFrame(takeFrame());
  }
  return !failed_;
}

// Adds the pieces of `message` to `iov` for one scatter write, skipping the
// first `skip` bytes (already written) and stopping at IOV_MAX entries.
// `skip` is reduced by the bytes it passed over. Returns false once `iov` is full.
bool appendIovecs(const Message& message, size_t& skip, std::vector<iovec>& iov);

}  // namespace dravel
