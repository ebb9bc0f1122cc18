#include "channels/frame.h"

#include <gtest/gtest.h>

#include <numeric>

namespace dravel {
namespace {

std::vector<uint8_t> bytesOf(const Message& m) {
  return m.flatten();
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
    EXPECT_EQ(frames[0].kind, FrameKind::kCall);
    EXPECT_EQ(frames[0].requestId, 7u);
    EXPECT_EQ(frames[0].channel, "dravel/capture");
    EXPECT_EQ(std::vector<uint8_t>(frames[0].payload.begin(), frames[0].payload.end()),
              payload.flatten());
    EXPECT_EQ(frames[1].kind, FrameKind::kReply);
    EXPECT_EQ(frames[1].requestId, 9u);
    EXPECT_TRUE(frames[1].channel.empty());
    EXPECT_TRUE(frames[1].payload.empty());
    EXPECT_FALSE(reader.midFrame());
  }
}

TEST(FrameReader, FrameMessageSharesThePayloadInsteadOfCopyingIt) {
  auto big = std::make_shared<ByteBuffer>(size_t{1} << 20, 0xab);
  Message payload;
  payload.appendShared(big);
  Message frame = frameMessage(FrameKind::kReply, 1, "", payload);
  ASSERT_EQ(frame.pieces().size(), 2u);
  EXPECT_EQ(frame.pieces()[1].data, big->data());
  EXPECT_EQ(frame.size(), kFrameHeaderSize + big->size());
}

TEST(FrameReader, RefusesBadHeadersAtOnce) {
  struct Case {
    const char* name;
    std::vector<uint8_t> header;
  };
  auto header = [](uint32_t length, uint8_t kind, uint8_t flags, uint16_t channelLength) {
    std::vector<uint8_t> h = {uint8_t(length),
                              uint8_t(length >> 8),
                              uint8_t(length >> 16),
                              uint8_t(length >> 24),
                              kind,
                              flags,
                              uint8_t(channelLength),
                              uint8_t(channelLength >> 8)};
    h.resize(kFrameHeaderSize, 0);
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

TEST(FrameReader, KnowsWhenAStreamEndsInsideAFrame) {
  auto stream =
      bytesOf(frameMessage(FrameKind::kCall, 1, "c", Message(std::vector<uint8_t>(10, 1))));
  for (size_t cut : {size_t{1}, kFrameHeaderSize - 1, kFrameHeaderSize, stream.size() - 1}) {
    FrameReader reader;
    std::vector<uint8_t> part(stream.begin(), stream.begin() + static_cast<long>(cut));
    EXPECT_TRUE(readAll(reader, part, part.size()).empty());
    EXPECT_TRUE(reader.midFrame()) << cut;
  }
}

}  // namespace
}  // namespace dravel
