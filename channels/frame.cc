#include "channels/frame.h"

#include <climits>

#include <sys/mman.h>

#include <cstdlib>
#include <new>

#include <utility>

namespace dravel {
namespace {

void putLe(std::vector<uint8_t>& out, uint64_t v, int bytes) {
  for (int i = 0; i < bytes; ++i) out.push_back(static_cast<uint8_t>(v >> (8 * i)));
}

uint64_t getLe(const uint8_t* p, int bytes) {
  uint64_t v = 0;
  for (int i = 0; i < bytes; ++i) v |= uint64_t{p[i]} << (8 * i);
  return v;
}

constexpr size_t kHugePage = size_t{2} << 20;

}  // namespace

void* allocateFrameBuffer(size_t bytes) {
  if (bytes < 4 * kHugePage) {
    void* p = std::malloc(bytes ? bytes : 1);
    if (!p) throw std::bad_alloc();
    return p;
  }
  const size_t rounded = (bytes + kHugePage - 1) / kHugePage * kHugePage;
  void* p = std::aligned_alloc(kHugePage, rounded);
  if (!p) throw std::bad_alloc();
  // Advice only: without transparent huge pages it changes nothing.
  ::madvise(p, rounded, MADV_HUGEPAGE);
  return p;
}

void releaseFrameBuffer(void* p, size_t) noexcept {
  std::free(p);
}

std::vector<uint8_t> encodeFrameHeader(FrameKind kind, uint64_t requestId,
                                       const std::string& channel, size_t payloadSize) {
  std::vector<uint8_t> out;
  out.reserve(kFrameHeaderSize + channel.size());
  putLe(out, kFrameFixedSize + channel.size() + payloadSize, 4);
  out.push_back(static_cast<uint8_t>(kind));
  out.push_back(0);
  putLe(out, channel.size(), 2);
  putLe(out, requestId, 8);
  out.insert(out.end(), channel.begin(), channel.end());
  return out;
}

Message frameMessage(FrameKind kind, uint64_t requestId, const std::string& channel,
                     const Message& payload) {
  Message frame(encodeFrameHeader(kind, requestId, channel, payload.size()));
  for (const Message::Piece& piece : payload.pieces()) frame.appendPiece(piece);
  return frame;
}

FrameReader::FrameReader(size_t maxFrameSize) : maxFrameSize_(maxFrameSize) {}

std::span<uint8_t> FrameReader::space() {
  if (failed_) return {};
  if (!inBody_) return std::span<uint8_t>(header_).subspan(headerFill_);
  // The channel name first, then the payload straight into its own buffer.
  if (bodyFill_ < frame_.channel.size()) {
    return std::span<uint8_t>(reinterpret_cast<uint8_t*>(frame_.channel.data()),
                              frame_.channel.size())
        .subspan(bodyFill_);
  }
  if (!payloadAllocated_) {
    // Reserved whole but not touched: its pages become resident only as bytes
    // arrive, so a frame cut short holds little memory (and the connection's
    // idle limit drops it).
    try {
      frame_.payload.resize(payloadSize_);
    } catch (const std::bad_alloc&) {
      const size_t length = kFrameFixedSize + frame_.channel.size() + payloadSize_;
      frame_ = Frame{};
      fail("no memory for a frame of " + std::to_string(length) + " bytes");
      return {};
    }
    payloadAllocated_ = true;
  }
  return std::span<uint8_t>(frame_.payload).subspan(bodyFill_ - frame_.channel.size());
}

FrameReader::Status FrameReader::fail(std::string why) {
  failed_ = true;
  error_ = std::move(why);
  return Status::kError;
}

FrameReader::Status FrameReader::commit(size_t n) {
  if (failed_) return Status::kError;
  if (!inBody_) {
    headerFill_ += n;
    if (headerFill_ < kFrameHeaderSize) return Status::kNeedMore;
    const uint64_t length = getLe(header_.data(), 4);
    const uint8_t kind = header_[4];
    const uint8_t flags = header_[5];
    const uint64_t channelLength = getLe(header_.data() + 6, 2);
    if (length < kFrameFixedSize)
      return fail("frame length " + std::to_string(length) + " too short");
    if (length > maxFrameSize_) {
      return fail("frame of " + std::to_string(length) + " bytes over the limit of " +
                  std::to_string(maxFrameSize_));
    }
    if (kind != static_cast<uint8_t>(FrameKind::kCall) &&
        kind != static_cast<uint8_t>(FrameKind::kReply)) {
      return fail("unknown frame kind " + std::to_string(kind));
    }
    if (flags != 0) return fail("unknown frame flags " + std::to_string(flags));
    if (channelLength > kMaxChannelNameSize || channelLength > length - kFrameFixedSize) {
      return fail("channel name length " + std::to_string(channelLength) + " out of range");
    }
    frame_ = Frame{};
    frame_.kind = static_cast<FrameKind>(kind);
    frame_.requestId = getLe(header_.data() + 8, 8);
    frame_.channel.assign(channelLength, '\0');
    // The payload's buffer waits for its first byte (see space()), so that
    // whoever reads can first decide whether to take a frame of this size.
    payloadSize_ = length - kFrameFixedSize - channelLength;
    payloadAllocated_ = false;
    inBody_ = true;
    bodyFill_ = 0;
    n = 0;
  }
  bodyFill_ += n;
  if (bodyFill_ < frame_.channel.size() + payloadSize_) return Status::kNeedMore;
  headerFill_ = 0;
  inBody_ = false;
  bodyFill_ = 0;
  payloadSize_ = 0;
  payloadAllocated_ = false;
  return Status::kFrame;
}

Frame FrameReader::takeFrame() {
  return std::move(frame_);
}

bool appendIovecs(const Message& message, size_t& skip, std::vector<iovec>& iov) {
  for (const Message::Piece& piece : message.pieces()) {
    if (iov.size() >= IOV_MAX) return false;
    if (skip >= piece.size) {
      skip -= piece.size;
      continue;
    }
    iov.push_back({const_cast<uint8_t*>(piece.data) + skip, piece.size - skip});
    skip = 0;
  }
  return iov.size() < IOV_MAX;
}

}  // namespace dravel
