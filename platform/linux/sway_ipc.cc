#include "platform/linux/sway_ipc.h"

#include <fcntl.h>
#include <poll.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <nlohmann/json.hpp>

namespace dravel::linux_platform {
namespace sway_ipc {
namespace {
constexpr std::string_view kMagic = "i3-ipc";
}  // namespace

std::string encode(uint32_t type, std::string_view payload) {
  std::string message(kMagic);
  const auto length = static_cast<uint32_t>(payload.size());
  message.append(reinterpret_cast<const char*>(&length), sizeof length);
  message.append(reinterpret_cast<const char*>(&type), sizeof type);
  message.append(payload);
  return message;
}

Decoded decode(std::string_view received, uint32_t expectedType, std::string* payload) {
  const size_t prefix = std::min(received.size(), kMagic.size());
  if (received.substr(0, prefix) != kMagic.substr(0, prefix)) return Decoded::kMalformed;
  if (received.size() < kHeaderSize) return Decoded::kIncomplete;
  uint32_t length = 0;
  uint32_t type = 0;
  std::memcpy(&length, received.data() + kMagic.size(), sizeof length);
  std::memcpy(&type, received.data() + kMagic.size() + sizeof length, sizeof type);
  if (type != expectedType || length > kMaxPayload) return Decoded::kMalformed;
  const size_t total = kHeaderSize + size_t{length};
  if (received.size() < total) return Decoded::kIncomplete;
  if (received.size() > total) return Decoded::kMalformed;
  if (payload) payload->assign(received.substr(kHeaderSize));
  return Decoded::kComplete;
}

std::optional<SwayOutput> focusedOutputOf(std::string_view payload) {
  const nlohmann::json outputs = nlohmann::json::parse(payload, nullptr, false);
  if (!outputs.is_array()) return std::nullopt;
  for (const nlohmann::json& output : outputs) {
    if (!output.is_object()) return std::nullopt;
    const auto focused = output.find("focused");
    if (focused == output.end() || !focused->is_boolean() || !focused->get<bool>()) continue;
    const auto name = output.find("name");
    const auto rect = output.find("rect");
    if (name == output.end() || !name->is_string() || name->get_ref<const std::string&>().empty() ||
        rect == output.end() || !rect->is_object()) {
      return std::nullopt;
    }
    SwayOutput result;
    result.name = name->get<std::string>();
    int64_t* fields[] = {&result.x, &result.y, &result.width, &result.height};
    const char* keys[] = {"x", "y", "width", "height"};
    for (size_t i = 0; i < 4; ++i) {
      const auto value = rect->find(keys[i]);
      if (value == rect->end() || !value->is_number_integer()) return std::nullopt;
      *fields[i] = value->get<int64_t>();
    }
    if (result.width <= 0 || result.height <= 0) return std::nullopt;
    return result;
  }
  return std::nullopt;
}

}  // namespace sway_ipc

namespace {

using Clock = std::chrono::steady_clock;

// Waits for `events` on `fd` until `deadline`; false on timeout or error.
bool waitFor(int fd, short events, Clock::time_point deadline) {
  for (;;) {
    const auto remaining =
        std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now()).count();
    if (remaining <= 0) return false;
    pollfd entry{fd, events, 0};
    const int ready = poll(&entry, 1, static_cast<int>(remaining));
    if (ready < 0 && errno == EINTR) continue;
    if (ready <= 0) return false;
    if (entry.revents & events) return true;
    if (entry.revents & (POLLERR | POLLHUP | POLLNVAL)) return false;
  }
}

class Socket {
 public:
  Socket() : fd_(socket(AF_UNIX, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0)) {}
  ~Socket() {
    if (fd_ >= 0) close(fd_);
  }
  Socket(const Socket&) = delete;
  Socket& operator=(const Socket&) = delete;
  int fd() const { return fd_; }

 private:
  int fd_;
};

}  // namespace

std::optional<SwayOutput> focusedOutput(std::chrono::milliseconds timeout) {
  const char* path = std::getenv("SWAYSOCK");
  if (!path || !*path) return std::nullopt;
  sockaddr_un address{};
  address.sun_family = AF_UNIX;
  if (std::strlen(path) >= sizeof address.sun_path) return std::nullopt;
  std::strcpy(address.sun_path, path);
  const Clock::time_point deadline = Clock::now() + timeout;
  Socket socket;
  if (socket.fd() < 0) return std::nullopt;
  if (connect(socket.fd(), reinterpret_cast<const sockaddr*>(&address), sizeof address) != 0) {
    if (errno != EINPROGRESS && errno != EAGAIN) return std::nullopt;
    if (!waitFor(socket.fd(), POLLOUT, deadline)) return std::nullopt;
    int error = 0;
    socklen_t length = sizeof error;
    if (getsockopt(socket.fd(), SOL_SOCKET, SO_ERROR, &error, &length) != 0 || error != 0) {
      return std::nullopt;
    }
  }
  const std::string request = sway_ipc::encode(sway_ipc::kGetOutputs, "");
  size_t sent = 0;
  while (sent < request.size()) {
    const ssize_t n = send(socket.fd(), request.data() + sent, request.size() - sent, MSG_NOSIGNAL);
    if (n > 0) {
      sent += static_cast<size_t>(n);
    } else if (n < 0 && (errno == EAGAIN || errno == EINTR)) {
      if (!waitFor(socket.fd(), POLLOUT, deadline)) return std::nullopt;
    } else {
      return std::nullopt;
    }
  }
  std::string received;
  std::string payload;
  char chunk[16384];
  for (;;) {
    switch (sway_ipc::decode(received, sway_ipc::kGetOutputs, &payload)) {
      case sway_ipc::Decoded::kComplete:
        return sway_ipc::focusedOutputOf(payload);
      case sway_ipc::Decoded::kMalformed:
        return std::nullopt;
      case sway_ipc::Decoded::kIncomplete:
        break;
    }
    // Never more than the reply announced: bytes past it are malformed.
    size_t wanted = sizeof chunk;
    if (received.size() >= sway_ipc::kHeaderSize) {
      uint32_t length = 0;
      std::memcpy(&length, received.data() + 6, sizeof length);
      wanted = std::min(wanted, sway_ipc::kHeaderSize + length - received.size());
    } else {
      wanted = sway_ipc::kHeaderSize - received.size();
    }
    const ssize_t n = recv(socket.fd(), chunk, wanted, 0);
    if (n > 0) {
      received.append(chunk, static_cast<size_t>(n));
    } else if (n < 0 && (errno == EAGAIN || errno == EINTR)) {
      if (!waitFor(socket.fd(), POLLIN, deadline)) return std::nullopt;
    } else {
      return std::nullopt;
    }
  }
}

}  // namespace dravel::linux_platform
