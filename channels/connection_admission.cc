#include "channels/connection_admission.h"

#include <errno.h>
#include <glib-unix.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <unistd.h>

#include <algorithm>
#include <cstring>
#include <utility>

#include "channels/log.h"
#include "channels/socket_path.h"

namespace dravel {

namespace {

std::string errnoText(int err) {
  return std::strerror(err);
}

// A frame this small is read for a connection that holds nothing even past
// the total: a call of a client that reads its replies never waits for the
// frames of others.
constexpr size_t kSmallFrame = 64 * 1024;

// Pauses in accepting while the process is out of descriptors.
constexpr unsigned kFirstAcceptBackoffMs = 50;
constexpr unsigned kMaxAcceptBackoffMs = 1000;

}  // namespace

ConnectionListener::ConnectionListener(GMainContext* context, OnConnection onConnection)
    : context_(context), onConnection_(std::move(onConnection)) {}

ConnectionListener::~ConnectionListener() {
  stop();
}

std::optional<std::string> ConnectionListener::listen(const std::string& path, bool strictFolder) {
  if (listenFd_ >= 0) return "already serving " + path_;
  if (path.empty()) return std::string("empty socket path");
  if (path.size() >= sizeof(sockaddr_un{}.sun_path)) {
    return "socket path " + path + " is longer than " +
           std::to_string(sizeof(sockaddr_un{}.sun_path) - 1) + " bytes";
  }

  if (auto why = prepareSocketPath(path, strictFolder)) return why;

  int fd = ::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0);
  if (fd < 0) return "cannot make a socket: " + errnoText(errno);
  sockaddr_un addr{};
  addr.sun_family = AF_UNIX;
  std::memcpy(addr.sun_path, path.c_str(), path.size() + 1);
  if (::bind(fd, reinterpret_cast<sockaddr*>(&addr), sizeof addr) != 0) {
    int err = errno;
    ::close(fd);
    if (err == EADDRINUSE) return "another host is already serving " + path;
    return "cannot bind " + path + ": " + errnoText(err);
  }
  if (::chmod(path.c_str(), 0600) != 0 || ::listen(fd, 16) != 0) {
    std::string why = errnoText(errno);
    ::close(fd);
    ::unlink(path.c_str());
    return "cannot serve " + path + ": " + why;
  }
  struct stat st {};
  if (::lstat(path.c_str(), &st) == 0) {
    socketDev_ = st.st_dev;
    socketIno_ = st.st_ino;
  }
  listenFd_ = fd;
  path_ = path;
  watchListener();
  return std::nullopt;
}

void ConnectionListener::stop() {
  for (GSource** source : {&listenSource_, &acceptRetry_}) {
    if (!*source) continue;
    g_source_destroy(*source);
    g_source_unref(*source);
    *source = nullptr;
  }
  acceptFailures_ = 0;
  acceptBackoffMs_ = 0;
  if (listenFd_ >= 0) {
    ::close(listenFd_);
    listenFd_ = -1;
    // Only our own socket file: a newer host may have replaced it.
    struct stat st {};
    if (::lstat(path_.c_str(), &st) == 0 && st.st_dev == socketDev_ && st.st_ino == socketIno_) {
      ::unlink(path_.c_str());
    }
  }
}

void ConnectionListener::watchListener() {
  listenSource_ = g_unix_fd_source_new(listenFd_, G_IO_IN);
  g_source_set_callback(listenSource_, G_SOURCE_FUNC(&ConnectionListener::onListenReady), this,
                        nullptr);
  g_source_attach(listenSource_, context_);
}

gboolean ConnectionListener::onListenReady(gint, GIOCondition, gpointer data) {
  static_cast<ConnectionListener*>(data)->acceptAll();
  return G_SOURCE_CONTINUE;
}

gboolean ConnectionListener::onAcceptRetry(gpointer data) {
  auto* self = static_cast<ConnectionListener*>(data);
  g_source_unref(self->acceptRetry_);
  self->acceptRetry_ = nullptr;
  self->watchListener();
  self->acceptAll();
  return G_SOURCE_REMOVE;
}

void ConnectionListener::backOff(int err) {
  if (acceptFailures_++ == 0) {
    NSLog("[socket] cannot accept connections (%s); waiting for descriptors to free up",
          errnoText(err).c_str());
  }
  // The listening socket stays readable while connections wait, so watching
  // it now would only spin: look again after a pause that grows to 1 s.
  acceptBackoffMs_ = std::clamp(acceptBackoffMs_ * 2, kFirstAcceptBackoffMs, kMaxAcceptBackoffMs);
  if (listenSource_) {
    g_source_destroy(listenSource_);
    g_source_unref(listenSource_);
    listenSource_ = nullptr;
  }
  if (!acceptRetry_) {
    acceptRetry_ = g_timeout_source_new(acceptBackoffMs_);
    g_source_set_callback(acceptRetry_, &ConnectionListener::onAcceptRetry, this, nullptr);
    g_source_attach(acceptRetry_, context_);
  }
}

void ConnectionListener::acceptAll() {
  for (;;) {
    int fd = ::accept4(listenFd_, nullptr, nullptr, SOCK_NONBLOCK | SOCK_CLOEXEC);
    if (fd < 0) {
      const int err = errno;
      if (err == EINTR || err == ECONNABORTED) continue;
      if (err == EMFILE || err == ENFILE || err == ENOBUFS || err == ENOMEM) {
        backOff(err);
      } else if (err != EAGAIN && err != EWOULDBLOCK) {
        NSLog("[socket] accept failed (%s)", errnoText(err).c_str());
      }
      return;
    }
    if (acceptFailures_ > 0) {
      NSLog("[socket] accepting connections again after %llu failed attempts",
            static_cast<unsigned long long>(acceptFailures_));
      acceptFailures_ = 0;
      acceptBackoffMs_ = 0;
    }
    ucred peer{};
    socklen_t length = sizeof peer;
    if (::getsockopt(fd, SOL_SOCKET, SO_PEERCRED, &peer, &length) != 0 || peer.uid != ::geteuid()) {
      NSLog("[socket] refused a connection from uid %d (pid %d): only uid %d may connect",
            static_cast<int>(peer.uid), static_cast<int>(peer.pid), static_cast<int>(::geteuid()));
      ::close(fd);
      continue;
    }
    // A capture is tens of megabytes: a larger send buffer means fewer wake-ups.
    int sendBuffer = 4 << 20;
    ::setsockopt(fd, SOL_SOCKET, SO_SNDBUF, &sendBuffer, sizeof sendBuffer);
    onConnection_(fd);
  }
}

FrameStallTimer::FrameStallTimer(GMainContext* context, double timeoutSeconds,
                                 std::function<bool()> midFrame, std::function<bool()> paused,
                                 std::function<void()> stalled)
    : context_(context),
      timeoutSeconds_(timeoutSeconds),
      midFrame_(std::move(midFrame)),
      paused_(std::move(paused)),
      stalled_(std::move(stalled)) {}

void FrameStallTimer::progressed(bool midFrame) {
  lastProgress_ = g_get_monotonic_time();
  if (midFrame && !timer_) arm(timeoutSeconds_);
}

void FrameStallTimer::stop() {
  if (!timer_) return;
  g_source_destroy(timer_);
  g_source_unref(timer_);
  timer_ = nullptr;
}

void FrameStallTimer::arm(double seconds) {
  const auto ms = static_cast<guint>(std::clamp(seconds * 1000, 1.0, 1e9));
  timer_ = g_timeout_source_new(ms);
  g_source_set_callback(timer_, &FrameStallTimer::onCheck, this, nullptr);
  g_source_attach(timer_, context_);
}

gboolean FrameStallTimer::onCheck(gpointer data) {
  auto* self = static_cast<FrameStallTimer*>(data);
  self->stop();
  if (!self->midFrame_()) return G_SOURCE_REMOVE;
  const double timeout = self->timeoutSeconds_;
  // Paused reading is the host's doing, not the client's: it does not count.
  if (self->paused_()) self->lastProgress_ = g_get_monotonic_time();
  const double idle = static_cast<double>(g_get_monotonic_time() - self->lastProgress_) / 1e6;
  if (idle < timeout) {
    self->arm(timeout - idle);
    return G_SOURCE_REMOVE;
  }
  // A copy: the connection, and this timer with it, may go while it runs.
  auto stalled = self->stalled_;
  stalled();
  return G_SOURCE_REMOVE;
}

void ReplyCosts::set(const std::string& channel, ReplyCost cost) {
  if (cost) {
    costs_[channel] = std::move(cost);
  } else {
    costs_.erase(channel);
  }
}

size_t ReplyCosts::of(const std::string& channel, std::span<const uint8_t> message) const {
  auto found = costs_.find(channel);
  return found == costs_.end() ? 0 : found->second(message);
}

bool ConnectionAccount::admit(size_t bodySize, size_t maxBufferedBytes, size_t& total,
                              const std::function<bool()>& otherFrameBeingRead) {
  if (!awaitingFrame(bodySize)) {
    return !overLimits() && (total <= maxBufferedBytes || held() == 0);
  }
  if (total + bodySize > maxBufferedBytes && !(bodySize <= kSmallFrame && held() == 0) &&
      otherFrameBeingRead()) {
    return false;
  }
  frameBytes_ = bodySize;
  total += bodySize;
  return true;
}

}  // namespace dravel
