#include "channels/frame.h"

#include <gtest/gtest.h>

#include <sys/resource.h>

#include <algorithm>
#include <iterator>
#include <numeric>
#include <string>

#include "tests/support/proc_status.h"

namespace dravel {
namespace {

std::vector<uint8_t> bytesOf(const Message& m) {
  return m.flatten();
}

std::tuple<FrameKind, uint64_t, std::string, std::vector<uint8_t>> fields(const Frame& f) {
  return {f.kind, f.requestId, f.channel, {f.payload.begin(), f.payload.end()}};
}

std::vector<Frame> readAll(FrameReader& reader, const std::vector<uint8_t>& stream, size_t chunk) {
  std::vector<Frame> frames;
  for (size_t i = 0; i < stream.size(); i += chunk) {
    size_t n = std::min(chunk, stream.size() - i);
    bool ok = reader.feed(std::span<const uint8_t>(stream.data() + i, n),
                          [&](Frame f) { frames.push_back(std::move(f)); });
    if (!ok) break;
  }
  return frames;
}

TEST(FrameReader, ReadsFramesInAnyChunking) {
  auto big = std::make_shared<ByteBuffer>(100000);
  std::iota(big->begin(), big->end(), 0);
  Message payload(std::vector<uint8_t>{1, 2, 3});
  payload.appendShared(big);
  std::vector<uint8_t> stream =
      bytesOf(frameMessage(FrameKind::kCall, 7, "dravel/capture", payload));
  auto second = bytesOf(frameMessage(FrameKind::kReply, 9, "", Message()));
  stream.insert(stream.end(), second.begin(), second.end());

  for (size_t chunk : {size_t{1}, size_t{5}, size_t{16}, size_t{4096}, stream.size()}) {
    FrameReader reader;
    auto frames = readAll(reader, stream, chunk);
    ASSERT_EQ(frames.size(), 2u) << "chunk " << chunk << ": " << reader.error();
    EXPECT_EQ(fields(frames[0]),
              std::make_tuple(FrameKind::kCall, uint64_t{7}, "dravel/capture", payload.flatten()));
    EXPECT_EQ(fields(frames[1]),
              std::make_tuple(FrameKind::kReply, uint64_t{9}, "", std::vector<uint8_t>{}));
    EXPECT_FALSE(reader.midFrame());
  }
}

TEST(FrameReader, RefusesBadHeadersAtOnce) {
  struct Case {
    const char* name;
    std::vector<uint8_t> header;
  };
  auto header = [](uint32_t length, uint8_t kind, uint8_t flags, uint16_t channelLength) {
    std::vector<uint8_t> h(kFrameHeaderSize, 0);
    for (int i = 0; i < 4; ++i) h[i] = static_cast<uint8_t>(length >> (8 * i));
    h[4] = kind;
    h[5] = flags;
    h[6] = static_cast<uint8_t>(channelLength);
    h[7] = static_cast<uint8_t>(channelLength >> 8);
    return h;
  };
  const Case cases[] = {
      {"over the limit", header(1000001, 1, 0, 0)},
      {"shorter than its header", header(11, 1, 0, 0)},
      {"unknown kind", header(12, 3, 0, 0)},
      {"flags set", header(12, 1, 1, 0)},
      {"channel longer than the frame", header(14, 1, 0, 3)},
      {"channel name too long", header(5000, 1, 0, 2000)},
  };
  for (const Case& c : cases) {
    FrameReader reader(1000000);
    size_t frames = 0;
    EXPECT_FALSE(reader.feed(c.header, [&](Frame) { ++frames; })) << c.name;
    EXPECT_TRUE(reader.failed()) << c.name;
    EXPECT_FALSE(reader.error().empty()) << c.name;
    EXPECT_TRUE(reader.space().empty()) << c.name;
    EXPECT_EQ(frames, 0u) << c.name;
  }
}

TEST(FrameReader, AFrameCutShortHoldsOnlyWhatArrivedAndNoMemoryIsABadFrame) {
  // 64 MiB announced, 1 KiB sent.
  const size_t before = static_cast<size_t>(testing::procStatusKb("VmRSS")) * 1024;
  FrameReader reader;
  std::vector<uint8_t> start = encodeFrameHeader(FrameKind::kCall, 1, "c", 64 << 20);
  start.push_back('c');
  start.resize(start.size() + 1024, 7);
  ASSERT_TRUE(reader.feed(start, [](Frame) { ADD_FAILURE() << "no frame is complete"; }));
  EXPECT_TRUE(reader.midFrame());
  EXPECT_LT(static_cast<size_t>(testing::procStatusKb("VmRSS")) * 1024, before + (16 << 20));

  // The sanitizer's allocator cannot run under an address-space limit: the
  // release build checks the rest.
#if !defined(__SANITIZE_ADDRESS__)
  // A frame whose buffer cannot be had fails the stream instead of throwing.
  rlimit saved{};
  ASSERT_EQ(::getrlimit(RLIMIT_AS, &saved), 0);
  rlimit low = saved;
  // What is mapped now, and 512 MiB more.
  low.rlim_cur = static_cast<rlim_t>(testing::procStatusKb("VmSize")) * 1024 + (512 << 20);
  ASSERT_EQ(::setrlimit(RLIMIT_AS, &low), 0);
  FrameReader big(size_t{4} << 30);
  // The buffer is asked for with the payload's first byte.
  std::vector<uint8_t> header = encodeFrameHeader(FrameKind::kCall, 1, "", (size_t{4} << 30) - 64);
  header.push_back(0);
  const bool ok = big.feed(header, [](Frame) {});
  ::setrlimit(RLIMIT_AS, &saved);
  EXPECT_FALSE(ok);
  EXPECT_NE(big.error().find("no memory"), std::string::npos) << big.error();
#endif
}

}  // namespace
}  // namespace dravel
