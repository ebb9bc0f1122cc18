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

TEST(KdeShortcutKeys, TheServicesFileNamesTheActiveKeysInQtsText) {
  const std::string file =
      "[kwin]\n_k_friendly_name=KWin\nKill Window=Meta+Ctrl+Esc,Meta+Ctrl+Esc,Kill Window\n"
      "Expose=none,Ctrl+F9,Toggle\nZoom In=Meta++\\tMeta+=,Meta++,Zoom\n"
      "[services][org.kde.spectacle.desktop]\nRegion=Meta+Shift+Print\\tMeta+Shift+S\n"
      "Odd=Hyper+A\\tNum+Ctrl+1\\tAlt+Volume Up\\tF35\n";
  const int64_t meta = kShortcutSuper;
  EXPECT_EQ(kdeShortcutKeysOfFile(file),
            (std::vector<KdeShortcutKey>{{GDK_KEY_Escape, meta | kShortcutControl},
                                         {GDK_KEY_plus, meta},
                                         {GDK_KEY_equal, meta},
                                         {GDK_KEY_Print, meta | kShortcutShift},
                                         {GDK_KEY_s, meta | kShortcutShift},
                                         {GDK_KEY_AudioRaiseVolume, kShortcutAlt},
                                         {GDK_KEY_F35, 0}}));
}

}  // namespace
}  // namespace dravel::linux_platform
