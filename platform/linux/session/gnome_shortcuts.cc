#include "platform/linux/session/gnome_shortcuts.h"

namespace dravel::linux_platform {

std::optional<bool> GnomeShortcuts::isTaken(int64_t keyCode, int64_t modifiers) {
  for (const std::string& accelerator : acceleratorsFromSettings(kKeybindingSchemas, source_)) {
    const std::optional<HotkeyBinding> binding = bindingFromAccelerator(accelerator);
    if (binding && binding->keyCode == keyCode && binding->modifierMask == modifiers) return true;
  }
  return false;
}

}  // namespace dravel::linux_platform
