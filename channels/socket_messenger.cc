#include "channels/socket_messenger.h"

#include <errno.h>
#include <fcntl.h>
#include <glib-unix.h>
#include <limits.h>
#include <poll.h>
#include <sys/socket.h>
#include <sys/uio.h>
#include <unistd.h>

#include <algorithm>
#include <cstring>
#include <deque>
#include <functional>
#include <memory>
#include <utility>
#include <vector>

#include "channels/bulk_write.h"
#include "channels/connection_admission.h"
#include "channels/log.h"
#include "channels/requester.h"

namespace dravel {

namespace {

std::string errnoText(int err) {
  return std::strerror(err);
}

// A reply with this much left to write is written on a thread of its own:
// copying a capture into the socket is milliseconds of work the main thread
// would otherwise do while other calls wait.
constexpr size_t kBulkWriteBytes = 4 << 20;

// Whether the peer closed its end entirely, as opposed to only shutting down
// its sending side. Asked afresh: the condition a source reports may predate
// the close.
bool peerHungUp(int fd) {
  pollfd p{fd, 0, 0};
  return ::poll(&p, 1, 0) > 0 && (p.revents & POLLHUP);
}

}  // namespace

// A call from the host to the interface, shared by the connections it went to.
struct SocketMessenger::OutgoingCall {
  FlutterBinaryReply reply;
  size_t outstanding = 0;
  bool done = false;

  // One connection's answer; empty when it did not handle the call or went away.
  void answer(const FrameBuffer& payload) {
    if (outstanding > 0) --outstanding;
    if (done) return;
    if (!payload.empty()) {
      done = true;
      if (reply) reply(Message(std::vector<uint8_t>(payload.begin(), payload.end())));
    } else if (outstanding == 0) {
      done = true;
      if (reply) reply(Message());
    }
  }
};

struct SocketMessenger::Connection : std::enable_shared_from_this<Connection> {
  Connection(uint64_t id_, int fd_, GMainContext* context_, const Options& options,
             std::weak_ptr<SocketMessenger*> owner_)
      : id(id_),
        fd(fd_),
        context(context_),
        account({.maxQueuedReplyBytes = options.maxQueuedReplyBytes,
                 .maxUnansweredCalls = options.maxUnansweredCalls}),
        reader(options.maxFrameSize),
        owner(std::move(owner_)),
        stall(
            context, options.frameIdleTimeoutSeconds, [this] { return reader.midFrame(); },
            [this] { return readingPaused; }, [this] { stalled(); }) {}
  ~Connection() { shutdown(); }

  uint64_t id;
  int fd;
  GMainContext* context;
  ConnectionAccount account;
  FrameReader reader;
  std::weak_ptr<SocketMessenger*> owner;
  GSource* readSource = nullptr;  // readable, or only hang-up while reading is paused
  GSource* writeSource = nullptr;
  FrameStallTimer stall;
  std::deque<Message> out;
  size_t outOffset = 0;             // bytes of out.front() already written
  std::shared_ptr<BulkWrite> bulk;  // out.front() being written on a thread of its own
  bool readingPaused = false;
  std::map<uint64_t, std::shared_ptr<OutgoingCall>> pending;  // host calls awaiting a reply
  bool readClosed = false;                                    // the client sent all it will send
  bool closed = false;
  // Marked gone when the connection closes, so that work for its calls stops.
  std::shared_ptr<Requester> requester = std::make_shared<Requester>();

  static gboolean onReadable(gint, GIOCondition, gpointer data);
  static gboolean onWritable(gint, GIOCondition, gpointer data);
  static gboolean onHangUp(gint, GIOCondition, gpointer data);

  template <typename Callback>
  GSource* attach(GSource* source, Callback callback) {
    g_source_set_callback(source, G_SOURCE_FUNC(callback),
                          new std::weak_ptr<Connection>(weak_from_this()),
                          [](gpointer p) { delete static_cast<std::weak_ptr<Connection>*>(p); });
    g_source_attach(source, context);
    return source;
  }

  GSource* watch(GIOCondition condition, GSourceFunc callback) {
    return attach(g_unix_fd_source_new(fd, condition), callback);
  }

  static void dropSource(GSource*& source) {
    if (!source) return;
    g_source_destroy(source);
    g_source_unref(source);
    source = nullptr;
  }

  // Releases the socket; the host's calls still waiting on it count as unhandled.
  void shutdown() {
    if (closed) return;
    closed = true;
    dropSource(readSource);
    dropSource(writeSource);
    stall.stop();
    if (bulk) {
      // The writing thread's copy of the socket fails from here on.
      bulk->cancel();
      ::shutdown(fd, SHUT_RDWR);
      bulk.reset();
    }
    ::close(fd);
    fd = -1;
    out.clear();
    account.release();
    auto calls = std::move(pending);
    pending.clear();
    for (auto& [requestId, call] : calls) call->answer({});
    requester->markGone();
  }

  // Closes through the messenger when it still exists, so it forgets us.
  void close() {
    auto self = shared_from_this();
    if (auto o = owner.lock(); o && *o) {
      (*o)->closeConnection(self);
    } else {
      shutdown();
    }
  }

  // Part of a frame and nothing more for the idle time.
  void stalled() {
    NSLog("[socket] client %llu sent part of a frame and nothing more for %g s; connection closed",
          static_cast<unsigned long long>(id), stall.timeoutSeconds());
    close();
  }

  // A client that has sent everything and has every answer is done.
  void closeIfFinished() {
    if (!closed && readClosed && account.unanswered() == 0 && out.empty()) close();
  }

  void send(Message frame) {
    if (closed) return;
    account.queued(frame.size());
    out.push_back(std::move(frame));
    if (!writeSource) {
      flush();
    } else {
      released();
    }
  }

  // A frame's header is in and its body not yet taken.
  bool awaitingFrame() const { return account.awaitingFrame(reader.bodySize()); }

  // Something this connection held went (or an answer came): paused
  // connections may read again.
  void released() {
    if (auto o = owner.lock(); o && *o) (*o)->rebalance();
  }

  // Stops reading the client's frames until its replies drain; only its
  // hanging up is still noticed.
  void pauseReading() {
    if (readingPaused || closed) return;
    readingPaused = true;
    dropSource(readSource);
    readSource = watch(GIOCondition(G_IO_HUP | G_IO_ERR), G_SOURCE_FUNC(&Connection::onHangUp));
  }

  void resumeReading() {
    if (!readingPaused || closed) return;
    readingPaused = false;
    dropSource(readSource);
    stall.resumed();
    readSource = watch(G_IO_IN, G_SOURCE_FUNC(&Connection::onReadable));
  }

  // Hands the rest of out.front() to a thread of its own; false when no
  // thread or descriptor could be had (the main loop then writes it).
  bool startBulkWrite() {
    std::weak_ptr<Connection> weak = weak_from_this();
    bulk = BulkWrite::start(fd, out.front(), outOffset, context, [weak](size_t written, int error) {
      if (auto self = weak.lock()) self->bulkDone(written, error);
    });
    return bulk != nullptr;
  }

  // Main thread: the big reply's thread is done.
  // Only one runs at a time, and none once the connection has closed.
  void bulkDone(size_t written, int error) {
    if (closed || !bulk) return;
    bulk.reset();
    account.wrote(written);
    if (error != 0 || written < out.front().size() - outOffset) {
      NSLog("[socket] client %llu vanished during a reply (%s); connection closed",
            static_cast<unsigned long long>(id), errnoText(error ? error : EPIPE).c_str());
      close();
      return;
    }
    out.pop_front();
    outOffset = 0;
    released();
    flush();
  }

  // Writes as much as the socket takes, straight from each piece's buffer;
  // a big reply goes to a thread of its own.
  void flush() {
    if (bulk) return;  // the rest follows once the big reply is out
    while (!closed && !out.empty()) {
      if (out.front().size() - outOffset >= kBulkWriteBytes && startBulkWrite()) {
        if (writeSource) dropSource(writeSource);
        return;
      }
      std::vector<iovec> iov;
      size_t skip = outOffset;
      for (const Message& message : out) {
        if (!appendIovecs(message, skip, iov)) break;
      }
      msghdr msg{};
      msg.msg_iov = iov.data();
      msg.msg_iovlen = iov.size();
      ssize_t n = ::sendmsg(fd, &msg, MSG_NOSIGNAL | MSG_DONTWAIT);
      if (n < 0) {
        if (errno == EINTR) continue;
        if (errno == EAGAIN || errno == EWOULDBLOCK) {
          if (!writeSource) writeSource = watch(G_IO_OUT, G_SOURCE_FUNC(&Connection::onWritable));
          return;
        }
        NSLog("[socket] client %llu vanished during a reply (%s); connection closed",
              static_cast<unsigned long long>(id), errnoText(errno).c_str());
        close();
        return;
      }
      size_t written = static_cast<size_t>(n);
      account.wrote(written);
      while (written > 0 && !out.empty()) {
        size_t left = out.front().size() - outOffset;
        if (written >= left) {
          written -= left;
          out.pop_front();
          outOffset = 0;
        } else {
          outOffset += written;
          written = 0;
        }
      }
    }
    if (out.empty() && writeSource) dropSource(writeSource);
    closeIfFinished();
    released();
  }
};

gboolean SocketMessenger::Connection::onHangUp(gint, GIOCondition, gpointer data) {
  auto self = static_cast<std::weak_ptr<Connection>*>(data)->lock();
  if (!self || self->closed) return G_SOURCE_REMOVE;
  self->close();
  return G_SOURCE_REMOVE;
}

gboolean SocketMessenger::Connection::onWritable(gint, GIOCondition, gpointer data) {
  auto self = static_cast<std::weak_ptr<Connection>*>(data)->lock();
  if (!self || self->closed) return G_SOURCE_REMOVE;
  self->flush();
  return G_SOURCE_CONTINUE;  // flush() drops the source once everything is out
}

gboolean SocketMessenger::Connection::onReadable(gint, GIOCondition condition, gpointer data) {
  auto self = static_cast<std::weak_ptr<Connection>*>(data)->lock();
  if (!self || self->closed) return G_SOURCE_REMOVE;
  auto owner = self->owner.lock();
  if (!owner || !*owner) {
    self->shutdown();
    return G_SOURCE_REMOVE;
  }
  SocketMessenger* messenger = *owner;
  const unsigned long long id = self->id;
  auto mayRead = [&] {
    size_t held = messenger->heldBytes();
    if (messenger->admit(*self, held)) return true;
    self->pauseReading();
    return false;
  };
  auto badFrame = [&] {
    NSLog("[socket] client %llu sent a bad frame (%s); connection closed", id,
          self->reader.error().c_str());
    self->close();
    return G_SOURCE_REMOVE;
  };
  for (;;) {
    // A frame's body is read only once it is taken against the total.
    if (self->awaitingFrame() && !mayRead()) return G_SOURCE_REMOVE;
    std::span<uint8_t> room = self->reader.space();
    if (room.empty()) return badFrame();
    ssize_t n = ::read(self->fd, room.data(), room.size());
    if (n > 0) {
      FrameReader::Status status = self->reader.commit(static_cast<size_t>(n));
      // A frame left unfinished must progress within the idle time.
      self->stall.progressed(self->reader.midFrame());
      if (status == FrameReader::Status::kError) return badFrame();
      if (status == FrameReader::Status::kFrame) {
        messenger->handleFrame(self, self->reader.takeFrame());
        self->account.frameRead();
        if (self->closed) return G_SOURCE_REMOVE;
        // Frames waiting for room go first.
        messenger->rebalance();
        if (!mayRead()) return G_SOURCE_REMOVE;
      }
      continue;
    }
    if (n == 0) {
      if (self->reader.midFrame()) {
        NSLog("[socket] client %llu ended its connection inside a frame; connection closed", id);
        self->close();
        return G_SOURCE_REMOVE;
      }
      // A hang-up means the client is gone entirely; otherwise it only
      // finished sending, and gets the answers to what it asked before we close.
      if ((condition & G_IO_HUP) || peerHungUp(self->fd)) {
        self->close();
        return G_SOURCE_REMOVE;
      }
      self->readClosed = true;
      dropSource(self->readSource);
      self->closeIfFinished();
      return G_SOURCE_REMOVE;
    }
    if (errno == EINTR) continue;
    if (errno == EAGAIN || errno == EWOULDBLOCK) return G_SOURCE_CONTINUE;
    NSLog("[socket] client %llu: read failed (%s); connection closed", id,
          errnoText(errno).c_str());
    self->close();
    return G_SOURCE_REMOVE;
  }
}

SocketMessenger::SocketMessenger(GMainContext* context) : SocketMessenger(context, Options{}) {}

SocketMessenger::SocketMessenger(GMainContext* context, Options options)
    : context_(context ? context : g_main_context_default()),
      options_(options),
      listener_(context_, [this](int fd) { addConnection(fd); }),
      self_(std::make_shared<SocketMessenger*>(this)) {
  g_main_context_ref(context_);
}

SocketMessenger::~SocketMessenger() {
  stop();
  *self_ = nullptr;
  g_main_context_unref(context_);
}

std::optional<std::string> SocketMessenger::listen(const std::string& path) {
  return listener_.listen(path, options_.strictFolder);
}

void SocketMessenger::stop() {
  listener_.stop();
  if (idleTimer_) {
    g_source_destroy(idleTimer_);
    g_source_unref(idleTimer_);
    idleTimer_ = nullptr;
  }
  auto all = std::move(connections_);
  connections_.clear();
  for (auto& [id, connection] : all) connection->shutdown();
}

void SocketMessenger::addConnection(int fd) {
  const uint64_t id = nextConnectionId_++;
  auto connection = std::make_shared<Connection>(id, fd, context_, options_, self_);
  connection->readSource = connection->watch(G_IO_IN, G_SOURCE_FUNC(&Connection::onReadable));
  connections_[id] = std::move(connection);
}

size_t SocketMessenger::queuedBytes() const {
  size_t total = 0;
  for (const auto& [id, connection] : connections_) total += connection->account.queuedBytes();
  return total;
}

size_t SocketMessenger::heldBytes() const {
  size_t total = 0;
  for (const auto& [id, connection] : connections_) total += connection->account.held();
  return total;
}

bool SocketMessenger::admit(Connection& connection, size_t& held) {
  return connection.account.admit(
      connection.reader.bodySize(), options_.maxBufferedBytes, held, [&] {
        for (const auto& [id, other] : connections_) {
          if (other.get() != &connection && other->account.readingFrame()) {
            return true;
          }
        }
        return false;
      });
}

void SocketMessenger::rebalance() {
  size_t held = heldBytes();
  for (const auto& [id, connection] : connections_) {
    if (connection->readingPaused && !connection->closed && admit(*connection, held)) {
      connection->resumeReading();
    }
  }
}

size_t SocketMessenger::pausedConnectionCount() const {
  size_t paused = 0;
  for (const auto& [id, connection] : connections_) paused += connection->readingPaused ? 1 : 0;
  return paused;
}

void SocketMessenger::closeConnection(const std::shared_ptr<Connection>& connection) {
  connections_.erase(connection->id);
  connection->shutdown();
  rebalance();
  if (!connections_.empty() || !options_.whenIdle || !listener_.listening()) return;
  // Counted from the last one to go.
  if (idleTimer_) {
    g_source_destroy(idleTimer_);
    g_source_unref(idleTimer_);
  }
  idleTimer_ = g_timeout_source_new(static_cast<guint>(options_.idleDelaySeconds * 1000));
  g_source_set_callback(
      idleTimer_,
      [](gpointer data) -> gboolean {
        auto* self = static_cast<SocketMessenger*>(data);
        g_source_unref(self->idleTimer_);
        self->idleTimer_ = nullptr;
        if (self->connections_.empty() && self->options_.whenIdle) self->options_.whenIdle();
        return G_SOURCE_REMOVE;
      },
      this, nullptr);
  g_source_attach(idleTimer_, context_);
}

void SocketMessenger::handleFrame(const std::shared_ptr<Connection>& connection, Frame frame) {
  const unsigned long long clientId = connection->id;
  if (frame.kind == FrameKind::kReply) {
    auto it = connection->pending.find(frame.requestId);
    if (it == connection->pending.end()) {
      NSLog("[socket] client %llu answered unknown request %llu; ignored", clientId,
            static_cast<unsigned long long>(frame.requestId));
      return;
    }
    auto call = it->second;
    connection->pending.erase(it);
    call->answer(frame.payload);
    return;
  }

  const uint64_t requestId = frame.requestId;
  FlutterBinaryMessageHandler run = handlers_.find(frame.channel);
  if (!run) {
    // Nobody handles the channel: an empty reply, as the embedding gives.
    if (requestId != 0) connection->send(frameMessage(FrameKind::kReply, requestId, "", Message()));
    return;
  }
  ScopedRequester current(connection->requester);
  if (requestId == 0) {
    run(frame.payload, nullptr);
    return;
  }
  // A reply known to be large counts from now: the calls read after this one
  // wait while it is being made, not only once it is queued.
  const size_t cost = replyCosts_.of(frame.channel, frame.payload);
  connection->account.callTaken(cost);
  std::weak_ptr<Connection> weak = connection;
  auto answered = std::make_shared<bool>(false);
  FlutterBinaryReply reply = [weak, requestId, answered, clientId, cost](Message answer) {
    if (*answered) {
      NSLog("[socket] second reply to request %llu of client %llu dropped",
            static_cast<unsigned long long>(requestId), clientId);
      return;
    }
    *answered = true;
    auto target = weak.lock();
    if (!target || target->closed) {
      NSLog("[socket] client %llu went away before the reply to request %llu", clientId,
            static_cast<unsigned long long>(requestId));
      return;
    }
    target->account.callAnswered(cost);
    target->send(frameMessage(FrameKind::kReply, requestId, "", answer));
  };
  run(frame.payload, std::move(reply));
}

void SocketMessenger::sendOnChannel(const std::string& channel, Message message,
                                    FlutterBinaryReply reply) {
  auto call = std::make_shared<OutgoingCall>();
  call->reply = std::move(reply);
  // Every target is counted before anything is written: a failed write closes
  // its connection, which answers for that target at once.
  std::vector<std::pair<std::shared_ptr<Connection>, uint64_t>> targets;
  for (auto& [id, connection] : connections_) {
    if (connection->closed) continue;
    uint64_t requestId = 0;
    if (call->reply) {
      requestId = nextRequestId_++;
      connection->pending[requestId] = call;
      ++call->outstanding;
    }
    targets.emplace_back(connection, requestId);
  }
  for (auto& [connection, requestId] : targets) {
    connection->send(frameMessage(FrameKind::kCall, requestId, channel, message));
  }
  if (call->reply && call->outstanding == 0 && !call->done) {
    call->done = true;
    call->reply(Message());
  }
}

void SocketMessenger::setReplyCost(const std::string& channel, ReplyCost cost) {
  replyCosts_.set(channel, std::move(cost));
}

void SocketMessenger::setMessageHandlerOnChannel(const std::string& channel,
                                                 FlutterBinaryMessageHandler handler) {
  handlers_.set(channel, std::move(handler));
}

}  // namespace dravel
