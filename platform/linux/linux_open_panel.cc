#include "platform/linux/linux_open_panel.h"

#include "channels/log.h"
#include "channels/main_queue.h"

namespace dravel::linux_platform {

uint64_t UnavailableOpenPanel::begin(const OpenPanelConfiguration&, Completion completion) {
  NSLog("[panel] no folder chooser on this desktop: answered as cancelled");
  mainQueue().async(
      [completion = std::move(completion)] { completion(kModalResponseCancel, std::nullopt); });
  return next_++;
}

}  // namespace dravel::linux_platform
