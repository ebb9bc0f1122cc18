#include "channels/requester.h"

#include <utility>

namespace dravel {
namespace {

// Only the main thread dispatches calls; thread_local keeps a test's worker
// threads from seeing a requester they did not install.
thread_local std::shared_ptr<Requester> tCurrent;

}  // namespace

uint64_t Requester::onGone(std::function<void()> callback) {
  if (!callback) return 0;
  if (gone()) {
    callback();
    return 0;
  }
  uint64_t token = nextToken_++;
  callbacks_.emplace(token, std::move(callback));
  return token;
}

void Requester::removeOnGone(uint64_t token) {
  callbacks_.erase(token);
}

void Requester::markGone() {
  if (gone_.exchange(true, std::memory_order_acq_rel)) return;
  // A callback may add or remove others: take them one at a time.
  while (!callbacks_.empty()) {
    auto first = callbacks_.begin();
    std::function<void()> callback = std::move(first->second);
    callbacks_.erase(first);
    if (callback) callback();
  }
}

std::shared_ptr<Requester> currentRequester() {
  if (tCurrent) return tCurrent;
  return std::make_shared<Requester>();
}

ScopedRequester::ScopedRequester(std::shared_ptr<Requester> requester)
    : previous_(std::exchange(tCurrent, std::move(requester))) {}

ScopedRequester::~ScopedRequester() {
  tCurrent = std::move(previous_);
}

}  // namespace dravel
