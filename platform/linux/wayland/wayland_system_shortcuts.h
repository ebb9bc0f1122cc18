// The desktop's shortcuts on a Wayland session, asked of the one that holds
// them, chosen once at start by what the session shows (never by the
// desktop's name), in this order:
//   1. sway and its kin: sway's IPC answers GET_CONFIG on $SWAYSOCK
//      (sway_shortcuts.h);
//   2. KDE Plasma: org.kde.kglobalaccel is owned on the session bus
//      (kde_global_shortcuts.h);
//   3. GNOME: org.gnome.Shell is owned on the session bus (its keybinding
//      settings, gnome_shortcuts.h);
//   4. none: every question answers that it cannot be told, never with
//      another desktop's table.
// One log line names the source.
#pragma once

#include <memory>
#include <string>

#include "platform/seam/system_shortcuts.h"

namespace dravel::linux_platform {

enum class ShortcutSource { kSwayConfig, kKdeGlobalShortcuts, kGnomeSettings, kNone };

// What the session shows.
struct ShortcutOffers {
  bool swayConfig = false;
  bool kdeGlobalShortcuts = false;
  bool gnomeShell = false;
};

ShortcutSource chooseShortcutSource(const ShortcutOffers& offers);

class WaylandSystemShortcuts : public SystemShortcuts {
 public:
  // Looks at the session (sway's IPC, the session bus) and logs the source.
  WaylandSystemShortcuts();
  // Asks `source` without looking at the session.
  explicit WaylandSystemShortcuts(ShortcutSource source);
  std::optional<bool> isTaken(int64_t keyCode, int64_t modifiers) override;
  ShortcutSource source() const { return source_; }

 private:
  ShortcutSource source_ = ShortcutSource::kNone;
  std::unique_ptr<SystemShortcuts> shortcuts_;
};

}  // namespace dravel::linux_platform
