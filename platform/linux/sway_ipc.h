// A small client of sway's IPC ($SWAYSOCK): the output that has the focus.
// The framing is i3's: the magic "i3-ipc", then the payload's length and the
// message type as native 32-bit integers, then a JSON payload.
#pragma once

#include <chrono>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

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

// The focused output as sway tells it (GET_OUTPUTS), waiting at most
// `timeout` in all. Nothing without SWAYSOCK, on any error, timeout or
// malformed reply. Any thread; meant for the main thread, hence the short
// default.
std::optional<SwayOutput> focusedOutput(
    std::chrono::milliseconds timeout = std::chrono::milliseconds(100));

// The framing, for the client and its tests.
namespace sway_ipc {

constexpr uint32_t kGetOutputs = 3;
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

}  // namespace sway_ipc
}  // namespace dravel::linux_platform
