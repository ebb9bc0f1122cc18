// KDE's global shortcuts, as its shortcut service holds them
// (org.kde.kglobalaccel on the session bus, which KWin serves on Plasma's
// Wayland session): every component's shortcuts (`allComponents`, then each
// component's `allShortcutInfos`, whose seventh field is the active keys),
// asked again on every question, so that a shortcut changed in the
// settings counts at once. One reading waits at most a second in all; one
// whose components did not all answer tells nothing, and the service's
// file ($XDG_CONFIG_HOME/kglobalshortcutsrc) answers instead. Keys are Qt's
// codes with Qt's modifier flags; those without a key value here (keypad
// keys, keys beyond the table in kde_global_shortcuts.cc) are left out.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "platform/seam/system_shortcuts.h"

namespace dravel::linux_platform {

struct KdeShortcutKey {
  // A lowercase key value.
  int64_t keyCode = 0;
  // The bits of system_shortcuts.h.
  int64_t modifiers = 0;
  bool operator==(const KdeShortcutKey&) const = default;
};

// One Qt key code with its modifier flags (Shift 0x02000000, Control
// 0x04000000, Alt 0x08000000, Meta 0x10000000) as a key value and the
// host's modifiers; absent for 0, a lone modifier key, the keypad flag or a
// key without a key value here.
std::optional<KdeShortcutKey> kdeShortcutKey(int64_t qtKey);

// One key in Qt's portable text ("Meta+Ctrl+Esc", "Alt+F4", "Ctrl++"),
// as kdeShortcutKey() gives it; absent when it names none here.
std::optional<KdeShortcutKey> kdeShortcutKeyNamed(const std::string& text);

// The active keys of the service's file, in KConfig's format: "[group]"
// lines (components, or Plasma 6's "[services][NAME]"), then
// "action=active,default,name" entries whose active keys lie apart by an
// escaped tab ("\t"), "none" when unbound.
std::vector<KdeShortcutKey> kdeShortcutKeysOfFile(const std::string& text);

class KdeGlobalShortcuts : public SystemShortcuts {
 public:
  std::optional<bool> isTaken(int64_t keyCode, int64_t modifiers) override;
  // Every active key of every component; absent when the service or one
  // of its components does not answer in time.
  static std::optional<std::vector<KdeShortcutKey>> read();
  // The same from the service's file; absent when it cannot be read.
  static std::optional<std::vector<KdeShortcutKey>> readFile();
};

}  // namespace dravel::linux_platform
