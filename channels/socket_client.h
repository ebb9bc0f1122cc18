// The interface's end of the host socket, blocking: what dravelctl, the tests
// and the benchmarks use to talk to a running host.
#pragma once

#include <sys/types.h>
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

struct ConnectOptions {
  // Frames from the host announcing more than this end the connection.
  size_t maxFrameSize = kDefaultMaxFrameSize;
  // How long connecting may wait for a host whose backlog is full; negative
  // waits as long as it takes.
  double timeoutSeconds = -1;
  // Whether the socket may belong to another user. Off, the client checks
  // the socket and its folder before connecting and the listener's
  // credentials after (see checkSocketOwnership); only tests that play
  // another user turn it on.
  bool trustOtherUsers = false;
  // Whether the socket's folder is held to the default socket's checks (as
  // the default socket's always is): for a socket the client found itself.
  bool strictFolder = false;
};

// Where a client finds a host when it is given no socket.
struct FoundSocket {
  std::string path;
  // Said to the user when hosts serve at both places: which one is taken.
  std::string note;
};

// The default socket, unless no host serves there and one serves at
// `sandboxed` (a sandboxed host's socket, sandboxSocketPath): then that one.
// When hosts serve at both, the default one, with a note naming the other.
FoundSocket findHostSocket(const std::string& sandboxed);

// Why a socket (or the folder holding it) cannot be trusted, or nothing. The
// default socket path, and any path when `strictFolder`, must lie in a folder
// that is not a symbolic link, belongs to this user and that no one else may
// write to. Another path may lie in a folder of this user or of root that no
// one else may write to or that is sticky (as /tmp is), links followed: the
// user chose the place. In both cases the socket file itself must be a socket
// of this user.
std::optional<std::string> checkSocketOwnership(const std::string& path, bool strictFolder = false);

// "uid 1000 (alice)": a user id, with its name when it has one.
std::string describeUser(uid_t uid);

class SocketClient {
 public:
  // Connects to the host's socket. Null, with the reason in `error`, when it
  // cannot; `refused` (when given) tells a socket or listener of another user
  // from a host that is not there.
  static std::unique_ptr<SocketClient> connect(const std::string& path, std::string* error,
                                               size_t maxFrameSize = kDefaultMaxFrameSize);
  static std::unique_ptr<SocketClient> connect(const std::string& path, std::string* error,
                                               const ConnectOptions& options,
                                               bool* refused = nullptr);
  ~SocketClient();
  SocketClient(const SocketClient&) = delete;
  SocketClient& operator=(const SocketClient&) = delete;

  // Sends one call and waits for its reply (an empty reply: nobody handled
  // it). The reply's buffer is shared, so decoding it from the returned bytes
  // leaves a large raw-bytes value where it was received. Host calls that
  // arrive meanwhile go to `onCall`. Absent, with the reason in `error`, when
  // the connection fails or `timeoutSeconds` (when not negative) runs out;
  // the timeout covers sending the call as well as waiting for the reply.
  std::optional<Bytes> call(const std::string& channel, const Message& payload, std::string* error,
                            double timeoutSeconds = -1);
  // The two halves of call(), for a caller that does something else while it
  // waits: sends the call, answering its request id; then waits up to
  // `timeoutSeconds` for that reply, `timedOut` telling a wait that ran out
  // (the reply may still come to a later wait) from a connection that failed.
  std::optional<uint64_t> sendCall(const std::string& channel, const Message& payload,
                                   std::string* error, double timeoutSeconds = -1);
  std::optional<Bytes> awaitReply(uint64_t id, std::string* error, double timeoutSeconds = -1,
                                  bool* timedOut = nullptr);

  // Reads the next frame. Absent on end of stream (error empty), a bad
  // stream, or timeout (error set).
  std::optional<Frame> readFrame(std::string* error, double timeoutSeconds = -1);

  // Absent a timeout (negative), waits as long as the host takes to read.
  bool sendFrame(FrameKind kind, uint64_t requestId, const std::string& channel,
                 const Message& payload, std::string* error, double timeoutSeconds = -1);
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
