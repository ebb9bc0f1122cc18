// A small client of sway's IPC ($SWAYSOCK): the output that has the focus,
// the windows sway shows, and the config it last loaded.
// The framing is i3's: the magic "i3-ipc", then the payload's length and the
// message type as native 32-bit integers, then a JSON payload.
#pragma once

#include <chrono>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace dravel::linux_platform {

struct SwayOutput {
  // The connector name ("HEADLESS-1").
  std::string name;
  // Its rectangle in the compositor's logical space.
  int64_t x = 0;
  int64_t y = 0;
  int64_t width = 0;
  int64_t height = 0;

  bool operator==(const SwayOutput&) const = default;
};

// A window (a con or floating_con without children) of sway's tree.
struct SwayWindow {
  // The container's id, stable while the window lives.
  int64_t id = 0;
  int64_t pid = 0;
  // The Wayland app id, else (Xwayland) the X11 class; may be empty.
  std::string owner;
  std::string title;
  // Its rect (borders included, sway's title bar not) in the compositor's
  // logical space.
  int64_t x = 0;
  int64_t y = 0;
  int64_t width = 0;
  int64_t height = 0;
  bool focused = false;

  bool operator==(const SwayWindow&) const = default;
};

// The focused output as sway tells it (GET_OUTPUTS), waiting at most
// `timeout` in all. Nothing without SWAYSOCK, on any error, timeout or
// malformed reply. Any thread; meant for the main thread, hence the short
// default.
std::optional<SwayOutput> focusedOutput(
    std::chrono::milliseconds timeout = std::chrono::milliseconds(100));

// The windows sway shows (GET_TREE), front to back with the focused one
// first, waiting at most `timeout` in all. Nothing, and `why`, without
// SWAYSOCK, on any error or timeout, or when the reply is malformed or its
// tree lies.
std::optional<std::vector<SwayWindow>> visibleWindows(
    std::chrono::milliseconds timeout = std::chrono::milliseconds(200), std::string* why = nullptr);

// The config sway last loaded (GET_CONFIG: the main file's text, without
// what it includes) and the process that answered (its id from the
// socket's peer credentials, 0 when they cannot be read). Nothing, and
// `why`, as for visibleWindows().
struct SwayLoadedConfig {
  std::string text;
  int64_t pid = 0;
};
std::optional<SwayLoadedConfig> loadedConfig(
    std::chrono::milliseconds timeout = std::chrono::milliseconds(200), std::string* why = nullptr);

// The framing, for the client and its tests.
namespace sway_ipc {

constexpr uint32_t kGetOutputs = 3;
constexpr uint32_t kGetTree = 4;
constexpr uint32_t kGetConfig = 9;
// The longest reply payload accepted.
constexpr uint32_t kMaxPayload = 4u << 20;
constexpr size_t kHeaderSize = 14;

// A message of `type` with `payload`.
std::string encode(uint32_t type, std::string_view payload);

enum class Decoded { kComplete, kIncomplete, kMalformed };
// Reads a reply of `expectedType` from the bytes received so far: complete
// (the payload in `payload`), incomplete (more bytes needed), or malformed
// (wrong magic or type, a length over kMaxPayload, bytes past the end).
Decoded decode(std::string_view received, uint32_t expectedType, std::string* payload);

// The focused output of a GET_OUTPUTS reply payload, or nothing.
std::optional<SwayOutput> focusedOutputOf(std::string_view payload);

// The visible windows of a GET_TREE reply payload as visibleWindows() gives
// them; nothing when any node is malformed or lies (a field missing or of
// another type, a negative size, nesting deeper than 64).
std::optional<std::vector<SwayWindow>> visibleWindowsOf(std::string_view payload);

// The config text of a GET_CONFIG reply payload ({"config": "..."}), or
// nothing.
std::optional<std::string> configOf(std::string_view payload);

}  // namespace sway_ipc
}  // namespace dravel::linux_platform
