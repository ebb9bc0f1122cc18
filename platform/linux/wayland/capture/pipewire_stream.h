// A PipeWire video stream of one monitor, as a screen-cast session hands it
// over (a PipeWire remote and a node on it), kept open while captures come.
//
// PipeWire runs the stream on a thread of its own; every frame that arrives
// is checked against the negotiated format and kept as the latest. A screen
// cast sends a frame only when the screen changes, so a capture answers with
// the latest frame and waits only for the first.
#pragma once

#include <chrono>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>

#include "platform/seam/captured_image.h"

namespace dravel::linux_platform {

class PipeWireStream {
 public:
  // Connects to the PipeWire remote on `fd` (taken over: closed in every
  // case) and to the video node `nodeId` on it. Null, with `why`, when
  // PipeWire cannot be reached or the stream cannot be made.
  static std::unique_ptr<PipeWireStream> open(int fd, uint32_t nodeId, std::string* why);
  virtual ~PipeWireStream() = default;

  // The newest frame of the stream. When none has come yet, waits for the
  // first up to `timeout`, polling `cancelled`. Null, with `why`, on a
  // timeout, a cancel, or a stream that failed.
  virtual CapturedImagePtr latestFrame(std::chrono::milliseconds timeout,
                                       const std::function<bool()>& cancelled,
                                       std::string* why) = 0;
  // Any thread. Whether the stream has ended or failed (its node went away,
  // the format could not be agreed): a new session is needed.
  virtual bool failed() const = 0;
};

}  // namespace dravel::linux_platform
