// The host's end of the binary messenger, carried over a local (Unix domain)
// socket: the interface, a test or dravelctl connects and exchanges frames
// (channels/frame.h). Runs on a GLib main context, on the main thread; the
// reply callbacks it hands to handlers must be called there too (work done on
// another thread hops back through mainQueue().async first). Only the copying
// of a big reply into the socket runs on a thread of its own, which hands the
// outcome back to the context.
#pragma once

#include <glib.h>
#include <sys/types.h>

#include <functional>
#include <map>
#include <memory>
#include <optional>
#include <span>
#include <string>

#include "channels/binary_messenger.h"
#include "channels/connection_admission.h"
#include "channels/frame.h"
#include "channels/socket_path.h"

namespace dravel {

class SocketMessenger : public FlutterBinaryMessenger {
 public:
  struct Options {
    // Frames announcing more than this are refused (the connection closes).
    size_t maxFrameSize = kDefaultMaxFrameSize;
    // Whether the socket's folder must belong to this user and be private
    // (always true for the default location).
    bool strictFolder = false;
    // A client's requests are not read while more than this many bytes of
    // replies wait for it, or while this many of its calls are unanswered;
    // reading resumes as it drains. Replies wait for it from the moment
    // their call is handed to its handler: a call on a channel with a reply
    // cost (setReplyCost) counts that cost until it is answered, then its
    // reply counts until written. What one client makes the host hold is
    // then about maxQueuedReplyBytes plus one costed reply, however many
    // calls it sends without reading (plus one reply per unanswered call of
    // a channel without a cost).
    size_t maxQueuedReplyBytes = size_t{16} << 20;
    size_t maxUnansweredCalls = 16;
    // What all connections together may make the host hold: replies waiting
    // for their clients as above, and the frame each is reading, counted
    // whole (as its header announces) from the moment its header is in.
    // Past it, connections that hold any of it are not read, and a frame
    // that would pass it waits before its body is read (its connection
    // paused, its buffer not yet reserved) until enough drains. So that
    // nobody waits for ever, a connection that holds nothing is still read
    // and its frames of up to 64 KiB are taken at once, and a larger frame
    // that does not fit is taken when no other frame is being read: a frame
    // or reply of any size allowed gets through, and clients that do not
    // read cannot keep the others from being answered. The total then stays
    // within this plus one frame, and 64 KiB and one costed reply per
    // connection. The default takes one frame of the largest size allowed
    // and a full queue of replies.
    size_t maxBufferedBytes = kDefaultMaxFrameSize + (size_t{16} << 20);
    // A connection that has sent part of a frame and nothing more for this
    // long is closed (time spent with its reading paused does not count).
    double frameIdleTimeoutSeconds = 30;
    // Called on the context once the last client has been gone this long
    // with none come since (the host gives memory back then).
    std::function<void()> whenIdle;
    double idleDelaySeconds = 1;
  };

  // Uses the given context (the default context when null).
  explicit SocketMessenger(GMainContext* context = nullptr);
  SocketMessenger(GMainContext* context, Options options);
  ~SocketMessenger() override;
  SocketMessenger(const SocketMessenger&) = delete;
  SocketMessenger& operator=(const SocketMessenger&) = delete;

  // Prepares the folder (created 0700 when missing), replaces a stale socket
  // left by a dead host, binds the socket (0600) and starts accepting. Returns
  // why it cannot serve (another host is live on the path, for one); it then
  // serves nothing.
  std::optional<std::string> listen(const std::string& path);
  // Stops accepting, closes every connection and removes the socket file.
  void stop();

  // A call from the host to the interface: written to every connected client.
  // `reply` gets the first non-empty reply, or an empty one when no client
  // handles the call (or none is connected).
  void sendOnChannel(const std::string& channel, Message message,
                     FlutterBinaryReply reply = nullptr) override;
  void setMessageHandlerOnChannel(const std::string& channel,
                                  FlutterBinaryMessageHandler handler) override;

  // What the reply to a call on `channel` is expected to take, in bytes, told
  // from the call's message before its handler gets it (0 when not known to
  // be large). Counted against the limits above until the reply comes; an
  // empty function removes it.
  using ReplyCost = ::dravel::ReplyCost;
  void setReplyCost(const std::string& channel, ReplyCost cost);

  const std::string& path() const { return listener_.path(); }
  size_t connectionCount() const { return connections_.size(); }
  // Bytes of replies and calls waiting to be written, over every connection.
  size_t queuedBytes() const;
  // Connections whose reading is paused until their replies drain or, for
  // the total, until enough is freed.
  size_t pausedConnectionCount() const;
  // What counts against maxBufferedBytes: queued replies and calls, the
  // costs of unanswered calls and the frames being read.
  size_t heldBytes() const;

  struct Connection;
  struct OutgoingCall;

 private:
  void addConnection(int fd);
  void handleFrame(const std::shared_ptr<Connection>& connection, Frame frame);
  void closeConnection(const std::shared_ptr<Connection>& connection);
  // Whether `connection` may go on reading, given `held` bytes held in all
  // (see ConnectionAccount::admit).
  bool admit(Connection& connection, size_t& held);
  // Resumes the paused connections that may read again.
  void rebalance();

  GMainContext* context_;
  Options options_;
  ConnectionListener listener_;
  GSource* idleTimer_ = nullptr;  // armed when the last client went
  uint64_t nextConnectionId_ = 1;
  uint64_t nextRequestId_ = 1;
  std::map<uint64_t, std::shared_ptr<Connection>> connections_;
  MessageHandlers handlers_;
  ReplyCosts replyCosts_;
  // Connections reach back here; cleared when the messenger goes.
  std::shared_ptr<SocketMessenger*> self_;
};

}  // namespace dravel
