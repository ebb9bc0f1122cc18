// The interface's end of the host socket, blocking: what dravelctl, the tests
// and the benchmarks use to talk to a running host.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <span>
#include <string>
#include <vector>

#include "channels/frame.h"
#include "channels/message.h"

namespace dravel {

class SocketClient {
 public:
  // Connects to the host's socket. Null, with the reason in `error`, when it cannot.
  static std::unique_ptr<SocketClient> connect(const std::string& path, std::string* error,
                                               size_t maxFrameSize = kDefaultMaxFrameSize);
  ~SocketClient();
  SocketClient(const SocketClient&) = delete;
  SocketClient& operator=(const SocketClient&) = delete;

  // Sends one call and waits for its reply (an empty reply: nobody handled
  // it). The reply's buffer is shared, so decoding it from the returned bytes
  // leaves a large raw-bytes value where it was received. Host calls that
  // arrive meanwhile go to `onCall`. Absent, with the reason in `error`, when
  // the connection fails or `timeoutSeconds` (when not negative) runs out.
  std::optional<Bytes> call(const std::string& channel, const Message& payload, std::string* error,
                            double timeoutSeconds = -1);

  // Reads the next frame. Absent on end of stream (error empty), a bad
  // stream, or timeout (error set).
  std::optional<Frame> readFrame(std::string* error, double timeoutSeconds = -1);

  bool sendFrame(FrameKind kind, uint64_t requestId, const std::string& channel,
                 const Message& payload, std::string* error);
  // Writes raw bytes, framed or not (tests of bad input).
  bool sendBytes(std::span<const uint8_t> bytes, std::string* error);

  // Receives a call from the host. Its return value is the reply (when the
  // call wants one); the default handler answers every call with an empty
  // reply (not handled).
  std::function<Message(const Frame& call)> onCall;

  int fd() const { return fd_; }
  uint64_t nextRequestId() { return nextRequestId_++; }

 private:
  SocketClient(int fd, size_t maxFrameSize);

  int fd_;
  FrameReader reader_;
  uint64_t nextRequestId_ = 1;
};

}  // namespace dravel
