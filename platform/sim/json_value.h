// JSON and channel values: scenario files, and dravelctl's arguments and output.
#pragma once

#include <cstddef>
#include <functional>
#include <optional>
#include <string>
#include <string_view>
#include <variant>

#include "channels/value.h"

namespace dravel::sim {

// Files named on a command line: a scenario, dravelctl's @FILE arguments.
inline constexpr size_t kMaxJsonFileSize = size_t{64} << 20;
// Raw bytes read from {"$file": PATH}: no more than one frame can carry.
inline constexpr size_t kMaxBytesFileSize = size_t{256} << 20;

// The whole of a file given as input: a regular file of at most `maxBytes`.
// Absent, with the reason in `error`, for anything else (missing, a folder, a
// device, a FIFO, too large). Opened without blocking and checked before it is
// read, so a FIFO or a device cannot hold the reader.
std::optional<std::string> readInputFile(const std::string& path, size_t maxBytes,
                                         std::string* error);

struct JsonReadOptions {
  // Whether one-key objects name a type that JSON cannot say on its own:
  //   {"$int": 5}         an integer
  //   {"$double": 5}      a double
  //   {"$hex": "89504e"}  raw bytes from hexadecimal digits
  //   {"$file": "a.png"}  raw bytes read from a file
  // Without markers, JSON integers become integers, other numbers doubles.
  bool typedMarkers = false;
};

// JSON text as a channel value, or why it is not valid JSON.
std::variant<Value, std::string> valueFromJson(std::string_view text, JsonReadOptions options = {});

// How raw bytes are written out; by default as {"$bytes": LENGTH}.
using BytesRenderer = std::function<std::string(std::span<const uint8_t> bytes)>;

// A channel value as JSON text. Map keys that are not strings are written
// through their debug rendering; non-finite doubles as null.
std::string jsonFromValue(const Value& value, int indent = 2, BytesRenderer bytes = nullptr);

}  // namespace dravel::sim
