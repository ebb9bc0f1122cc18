// GNOME's own shortcuts: the keybinding settings of the shell, the window
// manager and the media keys (see linux_user_defaults.h for what is read and
// how each accelerator is understood), read again on every question so that
// a binding changed in the settings counts from the next one on. Only GNOME
// Shell binds them: another desktop is asked its own way.
#pragma once

#include "platform/linux/session/linux_user_defaults.h"
#include "platform/seam/system_shortcuts.h"

namespace dravel::linux_platform {

class GnomeShortcuts : public SystemShortcuts {
 public:
  explicit GnomeShortcuts(SettingsSource source = {}) : source_(source) {}
  std::optional<bool> isTaken(int64_t keyCode, int64_t modifiers) override;

 private:
  SettingsSource source_;
};

}  // namespace dravel::linux_platform
