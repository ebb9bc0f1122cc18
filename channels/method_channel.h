// Method channels over a binary messenger, with the standard method codec.
#pragma once

#include <functional>
#include <memory>
#include <string>

#include "channels/binary_messenger.h"
#include "channels/flutter_result.h"
#include "channels/method_call.h"

namespace dravel {

using FlutterMethodCallHandler =
    std::function<void(const FlutterMethodCall& call, FlutterResult result)>;

class FlutterMethodChannel {
 public:
  FlutterMethodChannel(std::string name, FlutterBinaryMessenger* messenger);

  static std::shared_ptr<FlutterMethodChannel> methodChannelWithName(
      std::string name, FlutterBinaryMessenger* messenger);

  const std::string& name() const { return name_; }
  FlutterBinaryMessenger* messenger() const { return messenger_; }

  // Installs the one handler of this channel on the messenger. The handler
  // stays in force after this channel object is released. An empty handler
  // removes it. A call that does not decode is answered with the error
  // "bad_call" and never reaches the handler.
  void setMethodCallHandler(FlutterMethodCallHandler handler);

  // Calls a method on the interface without reading its reply.
  void invokeMethod(const std::string& method, Value arguments) const;
  // Calls a method on the interface and hands its decoded reply to `callback`.
  void invokeMethod(const std::string& method, Value arguments,
                    std::function<void(MethodResponse)> callback) const;

 private:
  std::string name_;
  FlutterBinaryMessenger* messenger_;
};

}  // namespace dravel
