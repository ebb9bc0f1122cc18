#include "host/hotkey_probe.h"

#include "platform/seam/platform.h"

namespace dravel::HotkeyProbe {

int64_t modifierMask(const std::vector<std::string>& modifiers) {
  int64_t mask = 0;
  for (const std::string& name : modifiers) {
    if (name == "shift")
      mask |= kShortcutShift;
    else if (name == "control")
      mask |= kShortcutControl;
    else if (name == "alt")
      mask |= kShortcutAlt;
    else if (name == "meta")
      mask |= kShortcutSuper;
  }
  return mask;
}

std::optional<bool> isFree(std::optional<int64_t> keyCode,
                           const std::vector<std::string>& modifiers) {
  if (!keyCode || *keyCode < 0) return std::nullopt;
  const std::optional<bool> taken =
      platform().systemShortcuts().isTaken(*keyCode, modifierMask(modifiers));
  if (!taken) return std::nullopt;
  return !*taken;
}

}  // namespace dravel::HotkeyProbe
