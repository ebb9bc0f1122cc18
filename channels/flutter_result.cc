#include "channels/flutter_result.h"

#include "channels/log.h"

namespace dravel {

struct FlutterResult::State {
  std::string description;
  Sink sink;
  bool answered = false;
  std::shared_ptr<Requester> requester;

  ~State() {
    if (answered || !sink) return;
    // Nobody answered: tell the interface rather than leave it waiting.
    NSLog("[channels] %s was dropped without an answer", description.c_str());
    sink(FlutterError::errorWithCode("no_reply", "the host dropped this call without answering"));
  }
};

FlutterResult::FlutterResult(std::string description, Sink sink)
    : state_(std::make_shared<State>()) {
  state_->description = std::move(description);
  state_->sink = std::move(sink);
  state_->requester = currentRequester();
}

void FlutterResult::operator()(MethodResponse response) const {
  if (!state_) return;
  if (state_->answered) {
    NSLog("[channels] %s was answered twice; the second answer is dropped",
          state_->description.c_str());
    return;
  }
  state_->answered = true;
  Sink sink = std::move(state_->sink);
  state_->sink = nullptr;
  if (sink) sink(std::move(response));
}

bool FlutterResult::answered() const {
  return state_ && state_->answered;
}

bool FlutterResult::requesterGone() const {
  return state_ && state_->requester->gone();
}

std::shared_ptr<Requester> FlutterResult::requester() const {
  if (!state_) return std::make_shared<Requester>();
  return state_->requester;
}

}  // namespace dravel
