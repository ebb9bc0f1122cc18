// The embedding's binary messenger: named channels carrying encoded messages.
#pragma once

#include <cstdint>
#include <functional>
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
