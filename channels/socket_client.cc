#include "channels/socket_client.h"

#include <errno.h>
#include <poll.h>
#include <sys/socket.h>
#include <sys/uio.h>
#include <sys/un.h>
#include <time.h>
#include <unistd.h>

#include <limits.h>
#include <cmath>
#include <cstring>

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

std::unique_ptr<SocketClient> SocketClient::connect(const std::string& path, std::string* error,
                                                    size_t maxFrameSize) {
  sockaddr_un addr{};
  if (path.empty() || path.size() >= sizeof addr.sun_path) {
    setError(error, "bad socket path " + path);
    return nullptr;
  }
  int fd = ::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
  if (fd < 0) {
    setError(error, std::string("socket: ") + std::strerror(errno));
    return nullptr;
  }
  addr.sun_family = AF_UNIX;
  std::memcpy(addr.sun_path, path.c_str(), path.size() + 1);
  if (::connect(fd, reinterpret_cast<sockaddr*>(&addr), sizeof addr) != 0) {
    setError(error, "cannot connect to " + path + ": " + std::strerror(errno));
    ::close(fd);
    return nullptr;
  }
  int receiveBuffer = 4 << 20;
  ::setsockopt(fd, SOL_SOCKET, SO_RCVBUF, &receiveBuffer, sizeof receiveBuffer);
  return std::unique_ptr<SocketClient>(new SocketClient(fd, maxFrameSize));
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
                             const Message& payload, std::string* error) {
  Message frame = frameMessage(kind, requestId, channel, payload);
  size_t offset = 0;
  while (offset < frame.size()) {
    std::vector<iovec> iov;
    size_t skip = offset;
    appendIovecs(frame, skip, iov);
    msghdr msg{};
    msg.msg_iov = iov.data();
    msg.msg_iovlen = iov.size();
    ssize_t n = ::sendmsg(fd_, &msg, MSG_NOSIGNAL);
    if (n < 0) {
      if (errno == EINTR) continue;
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
  const uint64_t id = nextRequestId();
  if (!sendFrame(FrameKind::kCall, id, channel, payload, error)) return std::nullopt;
  const double deadline = timeoutSeconds < 0 ? -1 : monotonicSeconds() + timeoutSeconds;
  for (;;) {
    double left = -1;
    if (deadline >= 0) {
      left = deadline - monotonicSeconds();
      if (left <= 0) {
        setError(error, "timed out waiting for the reply");
        return std::nullopt;
      }
    }
    std::string why;
    auto frame = readFrame(&why, left);
    if (!frame) {
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
        !sendFrame(FrameKind::kReply, frame->requestId, "", answer, error)) {
      return std::nullopt;
    }
  }
}

}  // namespace dravel
