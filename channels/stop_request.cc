#include "channels/stop_request.h"

#include <atomic>

namespace dravel {
namespace {

std::atomic<bool> gStopRequested{false};
static_assert(std::atomic<bool>::is_always_lock_free, "a signal handler sets the flag");

}  // namespace

void requestProcessStop() noexcept {
  gStopRequested.store(true, std::memory_order_relaxed);
}

bool processStopRequested() noexcept {
  return gStopRequested.load(std::memory_order_relaxed);
}

}  // namespace dravel
