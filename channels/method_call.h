// Method calls and their replies.
#pragma once

#include <optional>
#include <string>
#include <utility>

#include "channels/value.h"

namespace dravel {

struct FlutterMethodCall {
  std::string method;
  Value arguments;
};

struct FlutterError {
  std::string code;
  std::optional<std::string> message;
  Value details;

  static FlutterError errorWithCode(std::string code, std::optional<std::string> message = {},
                                    Value details = {}) {
    return {std::move(code), std::move(message), std::move(details)};
  }
  bool operator==(const FlutterError&) const = default;
};

// The answer for a method the channel does not have.
struct FlutterMethodNotImplementedT {
  bool operator==(const FlutterMethodNotImplementedT&) const = default;
};
inline constexpr FlutterMethodNotImplementedT FlutterMethodNotImplemented{};

}  // namespace dravel
