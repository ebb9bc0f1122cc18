#include "tests/support/real_desktop.h"

#include "platform/linux/x11/x11_desktop.h"

namespace dravel::testing {

std::unique_ptr<Platform> makeRealDesktop(std::shared_ptr<FlutterBinaryMessenger> messenger,
                                          std::string* why) {
  return linux_platform::X11Desktop::create(std::move(messenger), why);
}

}  // namespace dravel::testing
