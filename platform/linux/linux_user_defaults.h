// The desktop's preferences on Linux. The symbolic-hotkey table the host
// reads has no counterpart here until the desktop's own keybinding settings
// are translated: every lookup is absent, which the host reads as "no
// conflicting shortcut known".
#pragma once

#include "platform/user_defaults.h"

namespace dravel::linux_platform {

class LinuxUserDefaults : public UserDefaults {
 public:
  std::optional<Value> dictionaryForKey(const std::string&, const std::string&) override {
    return std::nullopt;
  }
};

}  // namespace dravel::linux_platform
