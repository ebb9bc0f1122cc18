#include "platform/seam/platform.h"

#include <cstdlib>

#include "channels/log.h"

namespace dravel {
namespace {
Platform* gPlatform = nullptr;
}

Platform& platform() {
  if (!gPlatform) {
    logLine("[platform] the platform was used before it was installed");
    std::abort();
  }
  return *gPlatform;
}

void setPlatform(Platform* p) {
  gPlatform = p;
}

}  // namespace dravel
