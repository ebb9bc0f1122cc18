#include "platform/linux/wayland/sway_ipc.h"

#include <fcntl.h>
#include <poll.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

#include <algorithm>
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

namespace {

// How deep a tree may go: the root, outputs, workspaces, then nested splits.
constexpr int kMaxTreeDepth = 64;

// A string field: empty when null or absent, nothing when something else.
std::optional<std::string> textAt(const nlohmann::json& node, const char* key) {
  const auto value = node.find(key);
  if (value == node.end() || value->is_null()) return std::string();
  if (!value->is_string()) return std::nullopt;
  return value->get<std::string>();
}

// A window's own fields; false when any is missing or lies. `visible` tells
// whether it is shown.
bool readWindow(const nlohmann::json& node, SwayWindow* window, bool* visible) {
  const auto id = node.find("id");
  const auto pid = node.find("pid");
  const auto shown = node.find("visible");
  const auto focused = node.find("focused");
  const auto rect = node.find("rect");
  if (id == node.end() || !id->is_number_integer() || pid == node.end() ||
      !pid->is_number_integer() || pid->get<int64_t>() <= 0 || shown == node.end() ||
      !shown->is_boolean() || focused == node.end() || !focused->is_boolean() ||
      rect == node.end() || !rect->is_object()) {
    return false;
  }
  window->id = id->get<int64_t>();
  window->pid = pid->get<int64_t>();
  window->focused = focused->get<bool>();
  *visible = shown->get<bool>();
  int64_t* fields[] = {&window->x, &window->y, &window->width, &window->height};
  const char* keys[] = {"x", "y", "width", "height"};
  for (size_t i = 0; i < 4; ++i) {
    const auto value = rect->find(keys[i]);
    if (value == rect->end() || !value->is_number_integer()) return false;
    *fields[i] = value->get<int64_t>();
  }
  if (window->width < 0 || window->height < 0) return false;
  // The rectangle leaves the title bar out; the frame, as on X11, has it.
  if (const auto deco = node.find("deco_rect"); deco != node.end()) {
    const auto height = deco->is_object() ? deco->find("height") : deco->end();
    if (height == deco->end() || !height->is_number_integer() || height->get<int64_t>() < 0)
      return false;
    window->y -= height->get<int64_t>();
    window->height += height->get<int64_t>();
  }
  std::optional<std::string> owner = textAt(node, "app_id");
  std::optional<std::string> title = textAt(node, "name");
  if (!owner || !title) return false;
  // Xwayland windows have their X11 class instead.
  const auto properties = node.find("window_properties");
  if (owner->empty() && properties != node.end()) {
    if (!properties->is_object()) return false;
    owner = textAt(*properties, "class");
    if (!owner) return false;
  }
  window->owner = std::move(*owner);
  window->title = std::move(*title);
  return true;
}

// Adds the visible windows under `node`, front to back; false when the tree
// lies anywhere.
bool collect(const nlohmann::json& node, int depth, std::vector<SwayWindow>* windows) {
  if (!node.is_object() || depth > kMaxTreeDepth) return false;
  const auto type = node.find("type");
  const auto nodes = node.find("nodes");
  const auto floating = node.find("floating_nodes");
  if (type == node.end() || !type->is_string() || (nodes != node.end() && !nodes->is_array()) ||
      (floating != node.end() && !floating->is_array())) {
    return false;
  }
  const bool leaf =
      (nodes == node.end() || nodes->empty()) && (floating == node.end() || floating->empty());
  if (leaf && (*type == "con" || *type == "floating_con")) {
    SwayWindow window;
    bool visible = false;
    if (!readWindow(node, &window, &visible)) return false;
    if (visible && window.width > 0 && window.height > 0) windows->push_back(std::move(window));
    return true;
  }
  // Floating windows lie above the tiled ones, the last raised on top.
  if (floating != node.end()) {
    for (auto child = floating->rbegin(); child != floating->rend(); ++child) {
      if (!collect(*child, depth + 1, windows)) return false;
    }
  }
  if (nodes != node.end()) {
    for (const nlohmann::json& child : *nodes) {
      if (!collect(child, depth + 1, windows)) return false;
    }
  }
  return true;
}

}  // namespace

std::optional<std::vector<SwayWindow>> visibleWindowsOf(std::string_view payload) {
  const nlohmann::json tree = nlohmann::json::parse(payload, nullptr, false);
  std::vector<SwayWindow> windows;
  if (tree.is_discarded() || !tree.is_object() || !collect(tree, 0, &windows)) {
    return std::nullopt;
  }
  std::stable_partition(windows.begin(), windows.end(),
                        [](const SwayWindow& w) { return w.focused; });
  return windows;
}

std::optional<std::string> configOf(std::string_view payload) {
  const nlohmann::json reply = nlohmann::json::parse(payload, nullptr, false);
  if (!reply.is_object()) return std::nullopt;
  const auto config = reply.find("config");
  if (config == reply.end() || !config->is_string()) return std::nullopt;
  return config->get<std::string>();
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

// The payload of sway's reply to a message of `type` with no payload,
// within `timeout` in all; nothing (and `why`) without SWAYSOCK, on any
// error, timeout or malformed reply. `peer`, when given, is the answering
// process's id (0 when the credentials cannot be read).
std::optional<std::string> request(uint32_t type, std::chrono::milliseconds timeout,
                                   std::string* why, int64_t* peer = nullptr) {
  auto fail = [why](const char* reason) -> std::optional<std::string> {
    if (why) *why = reason;
    return std::nullopt;
  };
  const char* path = std::getenv("SWAYSOCK");
  if (!path || !*path) return fail("SWAYSOCK is not set");
  sockaddr_un address{};
  address.sun_family = AF_UNIX;
  if (std::strlen(path) >= sizeof address.sun_path) return fail("SWAYSOCK is too long");
  std::strcpy(address.sun_path, path);
  const Clock::time_point deadline = Clock::now() + timeout;
  Socket socket;
  if (socket.fd() < 0) return fail("no socket");
  if (connect(socket.fd(), reinterpret_cast<const sockaddr*>(&address), sizeof address) != 0) {
    if (errno != EINPROGRESS && errno != EAGAIN) return fail("cannot connect to SWAYSOCK");
    if (!waitFor(socket.fd(), POLLOUT, deadline)) return fail("no connection in time");
    int error = 0;
    socklen_t length = sizeof error;
    if (getsockopt(socket.fd(), SOL_SOCKET, SO_ERROR, &error, &length) != 0 || error != 0) {
      return fail("cannot connect to SWAYSOCK");
    }
  }
  if (peer) {
    ucred credentials{};
    socklen_t size = sizeof credentials;
    const bool known = getsockopt(socket.fd(), SOL_SOCKET, SO_PEERCRED, &credentials, &size) == 0 &&
                       size == sizeof credentials;
    *peer = known ? credentials.pid : 0;
  }
  const std::string message = sway_ipc::encode(type, "");
  size_t sent = 0;
  while (sent < message.size()) {
    const ssize_t n = send(socket.fd(), message.data() + sent, message.size() - sent, MSG_NOSIGNAL);
    if (n > 0) {
      sent += static_cast<size_t>(n);
    } else if (n < 0 && (errno == EAGAIN || errno == EINTR)) {
      if (!waitFor(socket.fd(), POLLOUT, deadline)) return fail("no answer in time");
    } else {
      return fail("the socket broke");
    }
  }
  std::string received;
  std::string payload;
  char chunk[16384];
  for (;;) {
    switch (sway_ipc::decode(received, type, &payload)) {
      case sway_ipc::Decoded::kComplete:
        return payload;
      case sway_ipc::Decoded::kMalformed:
        return fail("a malformed reply");
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
      if (!waitFor(socket.fd(), POLLIN, deadline)) return fail("no answer in time");
    } else {
      return fail("the socket closed before the reply ended");
    }
  }
}

}  // namespace

std::optional<SwayOutput> focusedOutput(std::chrono::milliseconds timeout) {
  const std::optional<std::string> payload = request(sway_ipc::kGetOutputs, timeout, nullptr);
  return payload ? sway_ipc::focusedOutputOf(*payload) : std::nullopt;
}

std::optional<std::vector<SwayWindow>> visibleWindows(std::chrono::milliseconds timeout,
                                                      std::string* why) {
  const std::optional<std::string> payload = request(sway_ipc::kGetTree, timeout, why);
  if (!payload) return std::nullopt;
  std::optional<std::vector<SwayWindow>> windows = sway_ipc::visibleWindowsOf(*payload);
  if (!windows && why) *why = "a window tree that does not hold together";
  return windows;
}

std::optional<SwayLoadedConfig> loadedConfig(std::chrono::milliseconds timeout, std::string* why) {
  SwayLoadedConfig config;
  const std::optional<std::string> payload =
      request(sway_ipc::kGetConfig, timeout, why, &config.pid);
  if (!payload) return std::nullopt;
  std::optional<std::string> text = sway_ipc::configOf(*payload);
  if (!text) {
    if (why) *why = "a config reply without its text";
    return std::nullopt;
  }
  config.text = std::move(*text);
  return config;
}

}  // namespace dravel::linux_platform
