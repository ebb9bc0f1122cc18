// Two connected binary messengers in one process: the host's end and the
// interface's end. Every message is copied out as plain bytes and handed to
// the other end, as an embedding would, so every call crosses the codec.
#pragma once

#include <map>
#include <memory>
#include <string>

#include "channels/binary_messenger.h"

namespace dravel {

class InProcessMessenger : public FlutterBinaryMessenger {
 public:
  // Makes a connected pair: first the host's end, then the interface's end.
  static std::pair<std::shared_ptr<InProcessMessenger>, std::shared_ptr<InProcessMessenger>>
  makePair();

  void sendOnChannel(const std::string& channel, Message message,
                     FlutterBinaryReply reply = nullptr) override;
  void setMessageHandlerOnChannel(const std::string& channel,
                                  FlutterBinaryMessageHandler handler) override;

  bool hasHandler(const std::string& channel) const { return handlers_.has(channel); }
  // Messages sent to a channel without a handler on the other end.
  size_t unhandledCount() const { return unhandled_; }

 private:
  std::weak_ptr<InProcessMessenger> peer_;
  MessageHandlers handlers_;
  size_t unhandled_ = 0;
};

}  // namespace dravel
