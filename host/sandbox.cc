#include "host/sandbox.h"

#include <mutex>
#include <optional>

#include "platform/seam/platform.h"

namespace dravel::Sandbox {
namespace {
std::mutex gMutex;
std::optional<bool> gActive;
}  // namespace

bool active() {
  std::lock_guard<std::mutex> lock(gMutex);
  if (!gActive) {
    gActive = platform().processInfo().environmentValue("APP_SANDBOX_CONTAINER_ID").has_value();
  }
  return *gActive;
}

void resetForTesting() {
  std::lock_guard<std::mutex> lock(gMutex);
  gActive.reset();
}

}  // namespace dravel::Sandbox
