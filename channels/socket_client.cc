#include "channels/socket_client.h"

#include <errno.h>
#include <fcntl.h>
#include <poll.h>
#include <pwd.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/uio.h>
#include <sys/un.h>
#include <time.h>
#include <unistd.h>

#include <limits.h>
#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstring>

#include "channels/socket_path.h"

namespace dravel {
namespace {

double monotonicSeconds() {
  timespec ts{};
  clock_gettime(CLOCK_MONOTONIC, &ts);
  return static_cast<double>(ts.tv_sec) + static_cast<double>(ts.tv_nsec) / 1e9;
}

void setError(std::string* error, std::string text) {
  if (error) *error = std::move(text);
}

}  // namespace

std::string describeUser(uid_t uid) {
  std::string text = "uid " + std::to_string(uid);
  std::vector<char> buffer(16384);
  passwd entry{};
  passwd* found = nullptr;
  if (::getpwuid_r(uid, &entry, buffer.data(), buffer.size(), &found) == 0 && found &&
      found->pw_name) {
    text += " (" + std::string(found->pw_name) + ")";
  }
  return text;
}

namespace {

// Why a socket cannot be used; `refusal` when it (or its folder) is another
// user's, as opposed to a folder that cannot be inspected at all.
struct OwnershipProblem {
  OwnershipProblem(std::string text, bool isRefusal = true)
      : why(std::move(text)), refusal(isRefusal) {}
  std::string why;
  bool refusal;
};

std::optional<OwnershipProblem> ownershipProblem(const std::string& path, bool strictFolder) {
  const uid_t me = ::geteuid();
  const bool strict = strictFolder || path == defaultSocketPath();
  const std::string folder = parentFolder(path);
  struct stat st {};
  if ((strict ? ::lstat(folder.c_str(), &st) : ::stat(folder.c_str(), &st)) != 0) {
    return OwnershipProblem{"cannot inspect socket folder " + folder + ": " + std::strerror(errno),
                            false};
  }
  if (S_ISLNK(st.st_mode)) {
    return "refusing socket folder " + folder + ": it is a symbolic link";
  }
  if (!S_ISDIR(st.st_mode)) return "refusing socket folder " + folder + ": not a folder";
  if (st.st_uid != me && (strict || st.st_uid != 0)) {
    return "refusing socket folder " + folder + ": it belongs to " + describeUser(st.st_uid) +
           ", not to " + describeUser(me);
  }
  const bool othersWrite = (st.st_mode & (S_IWGRP | S_IWOTH)) != 0;
  if (othersWrite && (strict || !(st.st_mode & S_ISVTX))) {
    char mode[8];
    std::snprintf(mode, sizeof mode, "%04o", static_cast<unsigned>(st.st_mode & 07777));
    return "refusing socket folder " + folder + ": other users may write to it (mode " + mode + ")";
  }
  if (::lstat(path.c_str(), &st) == 0) {
    if (!S_ISSOCK(st.st_mode)) return "refusing " + path + ": not a socket";
    if (st.st_uid != me) {
      return "refusing socket " + path + ": it belongs to " + describeUser(st.st_uid) +
             ", not to " + describeUser(me);
    }
  }
  // A missing socket is left to connect(), which says that no host listens.
  return std::nullopt;
}

}  // namespace

std::optional<std::string> checkSocketOwnership(const std::string& path, bool strictFolder) {
  auto problem = ownershipProblem(path, strictFolder);
  if (!problem) return std::nullopt;
  return problem->why;
}

FoundSocket findHostSocket(const std::string& sandboxed) {
  FoundSocket found{defaultSocketPath(), ""};
  if (sandboxed.empty() || sandboxed == found.path || !someoneListensAt(sandboxed)) return found;
  if (!someoneListensAt(found.path)) return {sandboxed, ""};
  found.note = "hosts serve both " + found.path + " and " + sandboxed + " (sandboxed); using " +
               found.path + ", --socket chooses";
  return found;
}

std::unique_ptr<SocketClient> SocketClient::connect(const std::string& path, std::string* error,
                                                    size_t maxFrameSize) {
  ConnectOptions options;
  options.maxFrameSize = maxFrameSize;
  return connect(path, error, options);
}

std::unique_ptr<SocketClient> SocketClient::connect(const std::string& path, std::string* error,
                                                    const ConnectOptions& options, bool* refused) {
  if (refused) *refused = false;
  sockaddr_un addr{};
  if (path.empty() || path.size() >= sizeof addr.sun_path) {
    setError(error, "bad socket path " + path);
    return nullptr;
  }
  if (!options.trustOtherUsers) {
    // Checked before anything is sent; the listener's credentials, checked
    // after connecting, also cover a socket swapped in between.
    if (auto problem = ownershipProblem(path, options.strictFolder)) {
      if (refused) *refused = problem->refusal;
      setError(error, problem->why);
      return nullptr;
    }
  }
  int fd = ::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0);
  if (fd < 0) {
    setError(error, std::string("socket: ") + std::strerror(errno));
    return nullptr;
  }
  addr.sun_family = AF_UNIX;
  std::memcpy(addr.sun_path, path.c_str(), path.size() + 1);
  // A local socket connects at once or not at all: with the listener's
  // backlog full the non-blocking connect says EAGAIN and nothing is pending,
  // so it is tried again, more slowly each time, until the deadline.
  const double deadline =
      options.timeoutSeconds < 0 ? INFINITY : monotonicSeconds() + options.timeoutSeconds;
  int pauseMs = 1;
  for (;;) {
    if (::connect(fd, reinterpret_cast<sockaddr*>(&addr), sizeof addr) == 0) break;
    const int err = errno;
    if (err == EINTR) continue;
    if (err != EAGAIN) {
      setError(error, "cannot connect to " + path + ": " + std::strerror(err));
      ::close(fd);
      return nullptr;
    }
    const double left = deadline - monotonicSeconds();
    if (left <= 0) {
      setError(error, "timed out connecting to " + path + " (the host accepts no connection)");
      ::close(fd);
      return nullptr;
    }
    ::poll(nullptr, 0, static_cast<int>(std::clamp(std::ceil(left * 1000), 1.0, double(pauseMs))));
    pauseMs = std::min(pauseMs * 2, 50);
  }
  if (!options.trustOtherUsers) {
    ucred peer{};
    socklen_t length = sizeof peer;
    if (::getsockopt(fd, SOL_SOCKET, SO_PEERCRED, &peer, &length) != 0) {
      setError(error, std::string("cannot learn who serves ") + path + ": " + std::strerror(errno));
      ::close(fd);
      return nullptr;
    }
    if (peer.uid != ::geteuid()) {
      setError(error, "refusing the host at " + path + ": it runs as " + describeUser(peer.uid) +
                          " (pid " + std::to_string(peer.pid) + "), not as " +
                          describeUser(::geteuid()));
      if (refused) *refused = true;
      ::close(fd);
      return nullptr;
    }
  }
  // Blocking from here on; the calls bound their own waits.
  ::fcntl(fd, F_SETFL, ::fcntl(fd, F_GETFL) & ~O_NONBLOCK);
  int receiveBuffer = 4 << 20;
  ::setsockopt(fd, SOL_SOCKET, SO_RCVBUF, &receiveBuffer, sizeof receiveBuffer);
  return std::unique_ptr<SocketClient>(new SocketClient(fd, options.maxFrameSize));
}

SocketClient::SocketClient(int fd, size_t maxFrameSize) : fd_(fd), reader_(maxFrameSize) {}

SocketClient::~SocketClient() {
  ::close(fd_);
}

bool SocketClient::sendBytes(std::span<const uint8_t> bytes, std::string* error) {
  while (!bytes.empty()) {
    ssize_t n = ::send(fd_, bytes.data(), bytes.size(), MSG_NOSIGNAL);
    if (n < 0) {
      if (errno == EINTR) continue;
      setError(error, std::string("send: ") + std::strerror(errno));
      return false;
    }
    bytes = bytes.subspan(static_cast<size_t>(n));
  }
  return true;
}

bool SocketClient::sendFrame(FrameKind kind, uint64_t requestId, const std::string& channel,
                             const Message& payload, std::string* error, double timeoutSeconds) {
  Message frame = frameMessage(kind, requestId, channel, payload);
  const double deadline = timeoutSeconds < 0 ? INFINITY : monotonicSeconds() + timeoutSeconds;
  size_t offset = 0;
  while (offset < frame.size()) {
    if (timeoutSeconds >= 0) {
      // A host that does not read must not hold the sender past its deadline.
      double left = deadline - monotonicSeconds();
      if (left <= 0) {
        setError(error, "timed out sending to the host");
        return false;
      }
      pollfd p{fd_, POLLOUT, 0};
      int rc = ::poll(&p, 1, static_cast<int>(std::ceil(left * 1000)));
      if (rc < 0 && errno != EINTR) {
        setError(error, std::string("poll: ") + std::strerror(errno));
        return false;
      }
      if (rc <= 0) continue;
    }
    std::vector<iovec> iov;
    size_t skip = offset;
    appendIovecs(frame, skip, iov);
    msghdr msg{};
    msg.msg_iov = iov.data();
    msg.msg_iovlen = iov.size();
    ssize_t n = ::sendmsg(fd_, &msg, MSG_NOSIGNAL | (timeoutSeconds >= 0 ? MSG_DONTWAIT : 0));
    if (n < 0) {
      if (errno == EINTR || errno == EAGAIN || errno == EWOULDBLOCK) continue;
      setError(error, std::string("send: ") + std::strerror(errno));
      return false;
    }
    offset += static_cast<size_t>(n);
  }
  return true;
}

std::optional<Frame> SocketClient::readFrame(std::string* error, double timeoutSeconds) {
  const double deadline = timeoutSeconds < 0 ? INFINITY : monotonicSeconds() + timeoutSeconds;
  for (;;) {
    if (reader_.failed()) {
      setError(error, "bad frame from the host: " + reader_.error());
      return std::nullopt;
    }
    if (timeoutSeconds >= 0) {
      double left = deadline - monotonicSeconds();
      if (left <= 0) {
        setError(error, "timed out");
        return std::nullopt;
      }
      pollfd p{fd_, POLLIN, 0};
      int rc = ::poll(&p, 1, static_cast<int>(std::ceil(left * 1000)));
      if (rc < 0 && errno != EINTR) {
        setError(error, std::string("poll: ") + std::strerror(errno));
        return std::nullopt;
      }
      if (rc <= 0) continue;
    }
    std::span<uint8_t> room = reader_.space();
    if (room.empty()) continue;  // no memory for the frame: reported above
    ssize_t n = ::read(fd_, room.data(), room.size());
    if (n < 0) {
      if (errno == EINTR) continue;
      setError(error, std::string("read: ") + std::strerror(errno));
      return std::nullopt;
    }
    if (n == 0) {
      setError(error, reader_.midFrame() ? "connection ended inside a frame" : "");
      return std::nullopt;
    }
    auto status = reader_.commit(static_cast<size_t>(n));
    if (status == FrameReader::Status::kFrame) return reader_.takeFrame();
  }
}

std::optional<Bytes> SocketClient::call(const std::string& channel, const Message& payload,
                                        std::string* error, double timeoutSeconds) {
  const double start = monotonicSeconds();
  auto id = sendCall(channel, payload, error, timeoutSeconds);
  if (!id) return std::nullopt;
  return awaitReply(
      *id, error,
      timeoutSeconds < 0 ? -1 : std::max(0.0, timeoutSeconds - (monotonicSeconds() - start)));
}

std::optional<uint64_t> SocketClient::sendCall(const std::string& channel, const Message& payload,
                                               std::string* error, double timeoutSeconds) {
  const uint64_t id = nextRequestId();
  if (!sendFrame(FrameKind::kCall, id, channel, payload, error, timeoutSeconds)) {
    return std::nullopt;
  }
  return id;
}

std::optional<Bytes> SocketClient::awaitReply(uint64_t id, std::string* error,
                                              double timeoutSeconds, bool* timedOut) {
  if (timedOut) *timedOut = false;
  const double deadline = timeoutSeconds < 0 ? -1 : monotonicSeconds() + timeoutSeconds;
  auto timeUp = [&] {
    if (timedOut) *timedOut = true;
    setError(error, "timed out waiting for the reply");
    return std::nullopt;
  };
  for (;;) {
    double left = -1;
    if (deadline >= 0) {
      left = deadline - monotonicSeconds();
      if (left <= 0) return timeUp();
    }
    std::string why;
    auto frame = readFrame(&why, left);
    if (!frame) {
      if (deadline >= 0 && monotonicSeconds() >= deadline) return timeUp();
      setError(error, why.empty() ? "the host closed the connection" : why);
      return std::nullopt;
    }
    if (frame->kind == FrameKind::kReply) {
      if (frame->requestId == id) {
        auto reply = std::make_shared<const FrameBuffer>(std::move(frame->payload));
        return Bytes(reply, std::span<const uint8_t>(*reply));
      }
      continue;  // a reply to an earlier call that was given up on
    }
    Message answer = onCall ? onCall(*frame) : Message();
    if (frame->requestId != 0 &&
        !sendFrame(FrameKind::kReply, frame->requestId, "", answer, error,
                   deadline < 0 ? -1 : std::max(0.0, deadline - monotonicSeconds()))) {
      return std::nullopt;
    }
  }
}

}  // namespace dravel
