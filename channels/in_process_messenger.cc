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
  FlutterBinaryMessageHandler handler = peer ? peer->handlers_.find(channel) : nullptr;
  if (!handler) {
    ++unhandled_;
    if (reply) reply(Message());
    return;
  }
  std::vector<uint8_t> bytes = message.flatten();
  handler(bytes, [reply = std::move(reply)](Message answer) {
    if (!reply) return;
    // The answer crosses as plain bytes too.
    reply(Message(answer.flatten()));
  });
}

void InProcessMessenger::setMessageHandlerOnChannel(const std::string& channel,
                                                    FlutterBinaryMessageHandler handler) {
  handlers_.set(channel, std::move(handler));
}

}  // namespace dravel
