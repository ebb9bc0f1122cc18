#include "channels/in_process_messenger.h"

namespace dravel {

std::pair<std::shared_ptr<InProcessMessenger>, std::shared_ptr<InProcessMessenger>>
InProcessMessenger::makePair() {
  auto host = std::make_shared<InProcessMessenger>();
  auto ui = std::make_shared<InProcessMessenger>();
  host->peer_ = ui;
  ui->peer_ = host;
  return {host, ui};
}

void InProcessMessenger::sendOnChannel(const std::string& channel, Message message,
                                       FlutterBinaryReply reply) {
  auto peer = peer_.lock();
  auto it = peer ? peer->handlers_.find(channel) : decltype(handlers_)::iterator{};
  if (!peer || it == peer->handlers_.end()) {
    ++unhandled_;
    if (reply) reply(Message());
    return;
  }
  // Copy the handler: it may replace itself while running.
  FlutterBinaryMessageHandler handler = it->second;
  std::vector<uint8_t> bytes = message.flatten();
  handler(bytes, [reply = std::move(reply)](Message answer) {
    if (!reply) return;
    // The answer crosses as plain bytes too.
    reply(Message(answer.flatten()));
  });
}

void InProcessMessenger::setMessageHandlerOnChannel(const std::string& channel,
                                                    FlutterBinaryMessageHandler handler) {
  if (handler) {
    handlers_[channel] = std::move(handler);
  } else {
    handlers_.erase(channel);
  }
}

}  // namespace dravel
