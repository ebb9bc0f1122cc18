#include "platform/linux/linux_alerts.h"

#include "channels/log.h"

namespace dravel::linux_platform {

long LoggedAlerts::runModal(const AlertContent& alert) {
  NSLog("[alert] %s: %s (no dialog on this desktop: answered as aborted)",
        alert.messageText.c_str(), alert.informativeText.c_str());
  return kModalResponseAbort;
}

}  // namespace dravel::linux_platform
