#include "tests/support/real_desktop.h"

#include "platform/linux/linux_desktop.h"

namespace dravel::testing {

std::unique_ptr<Platform> makeRealDesktop(std::shared_ptr<FlutterBinaryMessenger> messenger,
                                          std::string* why) {
  return linux_platform::LinuxDesktop::create(std::move(messenger), why);
}

}  // namespace dravel::testing
