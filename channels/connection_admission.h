// What the host's socket lets in: the connections it accepts (only this
// user's, with pauses while the process is out of descriptors), and, for each
// connection, what it makes the host hold, whether it may read on and how
// long it may stall inside a frame.
// SocketMessenger::Options (channels/socket_messenger.h) describes the bounds.
#pragma once

#include <glib.h>
#include <sys/types.h>

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <map>
#include <optional>
#include <span>
#include <string>

namespace dravel {

// The listening end of the host's socket, on a GLib main context: who may
// connect. The socket is bound 0600 in a folder checked first (see
// prepareSocketPath), and peers of another user are refused. While the
// process is out of descriptors the socket stays readable, so watching it
// would only spin: accepting then pauses, for a time that grows to 1 s.
class ConnectionListener {
 public:
  // Gets the descriptor of each connection let in (non-blocking,
  // close-on-exec), which it then owns.
  using OnConnection = std::function<void(int fd)>;

  ConnectionListener(GMainContext* context, OnConnection onConnection);
  ~ConnectionListener();
  ConnectionListener(const ConnectionListener&) = delete;
  ConnectionListener& operator=(const ConnectionListener&) = delete;

  // Prepares the folder (created 0700 when missing), replaces a stale socket
  // left by a dead host, binds the socket (0600) and starts accepting. Returns
  // why it cannot serve (another host is live on the path, for one); it then
  // serves nothing.
  std::optional<std::string> listen(const std::string& path, bool strictFolder);
  // Stops accepting and removes the socket file, unless another host has
  // replaced it.
  void stop();

  bool listening() const { return listenFd_ >= 0; }
  // The path last served.
  const std::string& path() const { return path_; }

 private:
  static gboolean onListenReady(gint fd, GIOCondition condition, gpointer data);
  static gboolean onAcceptRetry(gpointer data);
  void watchListener();
  void acceptAll();
  // Out of descriptors: stops watching the listening socket for a while.
  void backOff(int err);

  GMainContext* context_;
  OnConnection onConnection_;
  std::string path_;
  int listenFd_ = -1;
  GSource* listenSource_ = nullptr;
  GSource* acceptRetry_ = nullptr;  // armed while accepting is backed off
  // The current run of failed accepts (0 when accepting works) and the next
  // wait before trying again.
  uint64_t acceptFailures_ = 0;
  unsigned acceptBackoffMs_ = 0;
  dev_t socketDev_ = 0;
  ino_t socketIno_ = 0;
};

// The bound on time for one connection: once it has sent part of a frame
// and nothing more for `timeoutSeconds`, it has stalled. Time spent with its
// reading paused does not count: that is the host's doing, not the client's.
class FrameStallTimer {
 public:
  // On the context, when the time may be up: `midFrame` tells whether part of
  // a frame is still held, `paused` whether reading is paused; `stalled` is
  // called when the connection has stalled.
  FrameStallTimer(GMainContext* context, double timeoutSeconds, std::function<bool()> midFrame,
                  std::function<bool()> paused, std::function<void()> stalled);
  ~FrameStallTimer() { stop(); }
  FrameStallTimer(const FrameStallTimer&) = delete;
  FrameStallTimer& operator=(const FrameStallTimer&) = delete;

  // Bytes arrived: a frame left unfinished (`midFrame`) must progress within
  // the timeout.
  void progressed(bool midFrame);
  // Reading resumed after a pause: the wait starts again.
  void resumed() { lastProgress_ = g_get_monotonic_time(); }
  void stop();
  double timeoutSeconds() const { return timeoutSeconds_; }

 private:
  static gboolean onCheck(gpointer data);
  void arm(double seconds);

  GMainContext* context_;
  double timeoutSeconds_;
  std::function<bool()> midFrame_;
  std::function<bool()> paused_;
  std::function<void()> stalled_;
  GSource* timer_ = nullptr;  // armed while part of a frame is held
  gint64 lastProgress_ = 0;   // when bytes last arrived (monotonic, µs)
};

// What the reply to a call is expected to take, in bytes, told from the
// call's message (0 when not known to be large).
using ReplyCost = std::function<size_t(std::span<const uint8_t> message)>;

// The reply costs of the channels that have one.
class ReplyCosts {
 public:
  // An empty function removes the channel's cost.
  void set(const std::string& channel, ReplyCost cost);
  size_t of(const std::string& channel, std::span<const uint8_t> message) const;

 private:
  std::map<std::string, ReplyCost> costs_;
};

// A client's requests are not read while more than this many bytes of
// replies wait for it, or while this many of its calls are unanswered.
struct ConnectionLimits {
  size_t maxQueuedReplyBytes;
  size_t maxUnansweredCalls;
};

// What one connection makes the host hold: the replies and calls queued for
// it, the costs of its calls not yet answered, and the frame it is reading.
class ConnectionAccount {
 public:
  explicit ConnectionAccount(ConnectionLimits limits) : limits_(limits) {}

  // Bytes queued to be written to the client, and bytes written.
  void queued(size_t bytes) { queuedBytes_ += bytes; }
  void wrote(size_t bytes) { queuedBytes_ -= std::min(queuedBytes_, bytes); }
  // A call of the client handed to its handler, with what its reply is
  // expected to take; then its answer (the cost gives way to the reply).
  void callTaken(size_t cost) {
    ++unanswered_;
    expectedReplyBytes_ += cost;
  }
  void callAnswered(size_t cost) {
    --unanswered_;
    expectedReplyBytes_ -= std::min(cost, expectedReplyBytes_);
  }
  // The frame being read was handed on.
  void frameRead() { frameBytes_ = 0; }
  // The connection closed: none of its bytes are held any more.
  void release() {
    queuedBytes_ = 0;
    expectedReplyBytes_ = 0;
    frameBytes_ = 0;
  }

  size_t queuedBytes() const { return queuedBytes_; }
  size_t unanswered() const { return unanswered_; }
  // Replies waiting for the client: written out or still to be made.
  size_t replyBytes() const { return queuedBytes_ + expectedReplyBytes_; }
  // What counts against the total of all connections.
  size_t held() const { return replyBytes() + frameBytes_; }
  bool readingFrame() const { return frameBytes_ > 0; }
  // A frame's header is in (announcing `bodySize` bytes to follow) and its
  // body not yet taken.
  bool awaitingFrame(size_t bodySize) const { return frameBytes_ == 0 && bodySize > 0; }
  bool overLimits() const {
    return replyBytes() > limits_.maxQueuedReplyBytes || unanswered_ >= limits_.maxUnansweredCalls;
  }

  // Whether the connection may go on reading, given `total` bytes held by all
  // connections. Between frames: within its own limits, and within
  // `maxBufferedBytes` unless it holds nothing. With a frame's header in:
  // whether the frame's body fits the total, is small (64 KiB) and the
  // connection holds nothing, or else no other frame is being read
  // (`otherFrameBeingRead` is asked only then); the frame then counts as held
  // (added to `total`).
  bool admit(size_t bodySize, size_t maxBufferedBytes, size_t& total,
             const std::function<bool()>& otherFrameBeingRead);

 private:
  ConnectionLimits limits_;
  size_t queuedBytes_ = 0;         // bytes queued and not yet written
  size_t expectedReplyBytes_ = 0;  // the costs of calls not yet answered
  size_t frameBytes_ = 0;          // the frame being read, once taken
  size_t unanswered_ = 0;          // calls from the client not yet answered
};

}  // namespace dravel
