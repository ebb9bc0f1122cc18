// The embedding's binary messenger: named channels carrying encoded messages.
#pragma once

#include <cstdint>
#include <functional>
#include <map>
#include <span>
#include <string>

#include "channels/message.h"

namespace dravel {

// Called once with the reply to a message. An empty reply means that nobody
// on the other side handled the message (for a method call: not implemented).
using FlutterBinaryReply = std::function<void(Message reply)>;

// Receives one incoming message and the callback that answers it.
using FlutterBinaryMessageHandler =
    std::function<void(std::span<const uint8_t> message, FlutterBinaryReply reply)>;

// The handlers a messenger holds, by channel.
class MessageHandlers {
 public:
  // Installs or, with an empty handler, removes the channel's handler.
  void set(const std::string& channel, FlutterBinaryMessageHandler handler) {
    if (handler) {
      handlers_[channel] = std::move(handler);
    } else {
      handlers_.erase(channel);
    }
  }
  // A copy of the channel's handler (it may replace itself while it runs);
  // empty when nobody handles the channel.
  FlutterBinaryMessageHandler find(const std::string& channel) const {
    auto it = handlers_.find(channel);
    return it == handlers_.end() ? FlutterBinaryMessageHandler() : it->second;
  }
  bool has(const std::string& channel) const { return handlers_.count(channel) != 0; }

 private:
  std::map<std::string, FlutterBinaryMessageHandler> handlers_;
};

class FlutterBinaryMessenger {
 public:
  virtual ~FlutterBinaryMessenger() = default;

  // Sends a message to the other side. `reply` may be empty when the sender
  // does not read the answer. Main thread only.
  virtual void sendOnChannel(const std::string& channel, Message message,
                             FlutterBinaryReply reply = nullptr) = 0;

  // Installs the handler for messages arriving on `channel`, replacing any
  // earlier one; an empty handler removes it. Main thread only.
  virtual void setMessageHandlerOnChannel(const std::string& channel,
                                          FlutterBinaryMessageHandler handler) = 0;
};

}  // namespace dravel
