#include "channels/main_queue.h"

#include <cstdlib>

#include "channels/log.h"

namespace dravel {
namespace {
MainQueue* gQueue = nullptr;
}

MainQueue& mainQueue() {
  if (!gQueue) {
    logLine("[channels] the main queue was used before it was installed");
    std::abort();
  }
  return *gQueue;
}

void setMainQueue(MainQueue* queue) {
  gQueue = queue;
}

}  // namespace dravel
