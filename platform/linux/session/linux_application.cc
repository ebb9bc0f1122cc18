#include "platform/linux/session/linux_application.h"

#include "platform/linux/session/linux_window.h"

namespace dravel::linux_platform {

LinuxApplication::LinuxApplication(std::function<LinuxWindow*()> mainWindow)
    : mainWindow_(std::move(mainWindow)) {}

bool LinuxApplication::setActivationPolicy(int policy) {
  if (policy != kActivationPolicyRegular && policy != kActivationPolicyAccessory &&
      policy != kActivationPolicyProhibited) {
    return false;
  }
  policy_ = policy;
  if (LinuxWindow* window = mainWindow_ ? mainWindow_() : nullptr) {
    window->setApplicationHints(policy != kActivationPolicyRegular,
                                policy == kActivationPolicyProhibited);
  }
  return true;
}

void LinuxApplication::activateIgnoringOtherApps(bool) {
  if (LinuxWindow* window = mainWindow_ ? mainWindow_() : nullptr) {
    if (window->isVisible()) window->activate();
  }
}

void LinuxApplication::hide() {
  LinuxWindow* window = mainWindow_ ? mainWindow_() : nullptr;
  if (!window || !window->isVisible()) return;
  hidden_ = true;
  window->orderOutByPlatform();
}

void LinuxApplication::unhide() {
  if (!hidden_) return;
  hidden_ = false;
  if (LinuxWindow* window = mainWindow_ ? mainWindow_() : nullptr) window->orderFrontRegardless();
}

}  // namespace dravel::linux_platform
