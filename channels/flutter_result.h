// The reply callback of one method call: answered exactly once.
#pragma once

#include <functional>
#include <memory>
#include <string>
#include <variant>

#include "channels/method_call.h"
#include "channels/requester.h"
#include "channels/value.h"

namespace dravel {

using MethodResponse = std::variant<Value, FlutterError, FlutterMethodNotImplementedT>;

// A copyable handle on the reply of one call. The first answer goes out; a
// second answer is a programming error and is logged and dropped. When the last
// handle goes away unanswered, the call is answered with the error
// "no_reply" and a log line, so the interface never waits forever.
class FlutterResult {
 public:
  using Sink = std::function<void(MethodResponse)>;

  FlutterResult() = default;
  // `description` names the call in log lines ("dravel/capture.captureScreen").
  // The result keeps the requester of the call being dispatched now
  // (channels/requester.h).
  FlutterResult(std::string description, Sink sink);

  void operator()(MethodResponse response) const;
  void operator()(Value value) const { (*this)(MethodResponse(std::move(value))); }
  void operator()(FlutterError error) const { (*this)(MethodResponse(std::move(error))); }
  void operator()(FlutterMethodNotImplementedT) const {
    (*this)(MethodResponse(FlutterMethodNotImplemented));
  }
  void operator()(std::nullptr_t) const { (*this)(Value()); }

  bool answered() const;
  // Whether the one who asked has gone, so that the answer would be read by
  // nobody. Any thread.
  bool requesterGone() const;
  // The requester itself, to hand to a worker thread or to watch for its
  // going; never null.
  std::shared_ptr<Requester> requester() const;
  explicit operator bool() const { return state_ != nullptr; }

 private:
  struct State;
  std::shared_ptr<State> state_;
};

}  // namespace dravel
