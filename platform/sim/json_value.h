// JSON and channel values: scenario files, and dravelctl's arguments and output.
#pragma once

#include <functional>
#include <string>
#include <string_view>
#include <variant>

#include "channels/value.h"

namespace dravel::sim {

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
