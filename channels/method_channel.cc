#include "channels/method_channel.h"

#include "channels/log.h"
#include "channels/standard_codec.h"

namespace dravel {

FlutterMethodChannel::FlutterMethodChannel(std::string name, FlutterBinaryMessenger* messenger)
    : name_(std::move(name)), messenger_(messenger) {}

std::shared_ptr<FlutterMethodChannel> FlutterMethodChannel::methodChannelWithName(
    std::string name, FlutterBinaryMessenger* messenger) {
  return std::make_shared<FlutterMethodChannel>(std::move(name), messenger);
}

namespace {

Message encodeResponse(const MethodResponse& response) {
  if (auto* value = std::get_if<Value>(&response)) {
    return StandardMethodCodec::encodeSuccessEnvelope(*value);
  }
  if (auto* error = std::get_if<FlutterError>(&response)) {
    return StandardMethodCodec::encodeErrorEnvelope(*error);
  }
  return Message();  // not implemented: an empty reply
}

}  // namespace

void FlutterMethodChannel::setMethodCallHandler(FlutterMethodCallHandler handler) {
  if (!handler) {
    messenger_->setMessageHandlerOnChannel(name_, nullptr);
    return;
  }
  // The installed closure captures the name and handler, not this object, so
  // it stays in force when the channel object goes away.
  std::string name = name_;
  messenger_->setMessageHandlerOnChannel(
      name_, [name, handler = std::move(handler)](std::span<const uint8_t> bytes,
                                                  FlutterBinaryReply reply) {
        auto decoded = StandardMethodCodec::decodeMethodCall(bytes);
        if (auto* error = std::get_if<DecodeError>(&decoded)) {
          NSLog("[channels] %s: undecodable call (%s)", name.c_str(), error->what.c_str());
          if (reply) {
            reply(StandardMethodCodec::encodeErrorEnvelope(
                FlutterError::errorWithCode("bad_call", error->what)));
          }
          return;
        }
        auto& call = std::get<FlutterMethodCall>(decoded);
        FlutterResult result(name + "." + call.method,
                             [reply = std::move(reply)](MethodResponse response) {
                               if (reply) reply(encodeResponse(response));
                             });
        handler(call, std::move(result));
      });
}

void FlutterMethodChannel::invokeMethod(const std::string& method, Value arguments) const {
  messenger_->sendOnChannel(
      name_, StandardMethodCodec::encodeMethodCall({method, std::move(arguments)}), nullptr);
}

void FlutterMethodChannel::invokeMethod(const std::string& method, Value arguments,
                                        std::function<void(MethodResponse)> callback) const {
  messenger_->sendOnChannel(name_,
                            StandardMethodCodec::encodeMethodCall({method, std::move(arguments)}),
                            [callback = std::move(callback)](Message reply) {
                              if (!callback) return;
                              if (reply.empty()) {
                                callback(FlutterMethodNotImplemented);
                                return;
                              }
                              auto bytes = reply.flatten();
                              auto decoded = StandardMethodCodec::decodeEnvelope(bytes);
                              if (auto* error = std::get_if<DecodeError>(&decoded)) {
                                callback(FlutterError::errorWithCode("bad_reply", error->what));
                                return;
                              }
                              auto& envelope = std::get<MethodEnvelope>(decoded);
                              if (auto* value = std::get_if<Value>(&envelope)) {
                                callback(std::move(*value));
                              } else {
                                callback(std::get<FlutterError>(std::move(envelope)));
                              }
                            });
}

}  // namespace dravel
