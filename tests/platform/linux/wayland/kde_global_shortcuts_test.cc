// Qt's key codes of KDE's global shortcuts as key values and modifiers.
#include "platform/linux/wayland/kde_global_shortcuts.h"

#include <gdk/gdk.h>
#include <gtest/gtest.h>

namespace dravel::linux_platform {
namespace {

TEST(KdeShortcutKeys, QtCodesBecomeLowercaseKeyValuesAndTheHostsModifiers) {
  const std::pair<int64_t, std::optional<KdeShortcutKey>> rows[] = {
      // Meta+Ctrl+Esc, KWin's "Kill Window"; Meta+Y; Shift+Print; Alt+F4.
      {0x15000000, KdeShortcutKey{GDK_KEY_Escape, kShortcutSuper | kShortcutControl}},
      {0x10000059, KdeShortcutKey{GDK_KEY_y, kShortcutSuper}},
      {0x03000009, KdeShortcutKey{GDK_KEY_Print, kShortcutShift}},
      {0x09000033, KdeShortcutKey{GDK_KEY_F4, kShortcutAlt}},
      {0x100000C4, KdeShortcutKey{GDK_KEY_adiaeresis, kShortcutSuper}},
      // Unbound, a lone modifier key, the keypad, a key without a value here.
      {0, std::nullopt},
      {0x01000021, std::nullopt},
      {0x2000002B, std::nullopt},
      {0x010000ff, std::nullopt},
  };
  for (const auto& [qt, key] : rows) EXPECT_EQ(kdeShortcutKey(qt), key) << std::hex << qt;
}

}  // namespace
}  // namespace dravel::linux_platform
