// Reads arbitrary bytes as a stream of socket frames, in chunks whose size the
// first byte picks, and decodes each frame's payload as the host and the
// client would. Every frame read must frame again to the bytes it came from,
// and the reader must never hand out space after it failed.
#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <span>
#include <vector>

#include "channels/frame.h"
#include "channels/standard_codec.h"

namespace {

void check(bool ok, const char* what) {
  if (ok) return;
  std::fprintf(stderr, "frame_fuzz: %s\n", what);
  std::abort();
}

void checkFrame(const dravel::Frame& frame) {
  dravel::Message payload(std::vector<uint8_t>(frame.payload.begin(), frame.payload.end()));
  std::vector<uint8_t> again =
      dravel::frameMessage(frame.kind, frame.requestId, frame.channel, payload).flatten();
  dravel::FrameReader reader;
  int frames = 0;
  bool ok = reader.feed(again, [&](dravel::Frame f) {
    ++frames;
    check(f.kind == frame.kind && f.requestId == frame.requestId && f.channel == frame.channel &&
              f.payload == frame.payload,
          "a frame does not survive framing again");
  });
  check(ok && frames == 1 && !reader.midFrame(), "a re-framed frame does not read back whole");

  if (frame.kind == dravel::FrameKind::kCall) {
    (void)dravel::StandardMethodCodec::decodeMethodCall(frame.payload);
  } else if (!frame.payload.empty()) {
    (void)dravel::StandardMethodCodec::decodeEnvelope(frame.payload);
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size < 1) return 0;
  const size_t chunk = (data[0] & 0x3f) + 1;
  // A small limit exercises the size check; the larger one lets a header
  // announce a buffer big enough for the huge-page allocation.
  const size_t limit = (data[0] & 0x80) ? size_t{16} << 20 : 4096;
  std::span<const uint8_t> stream(data + 1, size - 1);

  dravel::FrameReader reader(limit);
  while (!stream.empty()) {
    const size_t n = std::min(chunk, stream.size());
    const bool ok = reader.feed(stream.first(n), checkFrame);
    stream = stream.subspan(n);
    if (!ok) {
      check(reader.failed() && !reader.error().empty(), "a failure without a reason");
      check(reader.space().empty(), "space handed out after a failure");
      break;
    }
  }
  return 0;
}
