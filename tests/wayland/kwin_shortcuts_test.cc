// KDE's global shortcuts on the private KWin desktop: a KWin shortcut set
// through KDE's shortcut service counts at once, and the keys it left are
// free; the service's own listing (gdbus) is the oracle.
#include <gdk/gdk.h>
#include <gtest/gtest.h>

#include "platform/linux/wayland/kde_global_shortcuts.h"
#include "platform/linux/wayland/wayland_system_shortcuts.h"
#include "tests/support/wayland_oracles.h"
#include "tests/support/x_desktop.h"

namespace dravel::linux_platform {
namespace {

using namespace ::dravel::testing;

// KWin's "Kill Window" keys as the service lists them (Qt's codes).
std::string killWindowKeys() {
  const std::string infos = gdbusCall("org.kde.kglobalaccel", "/component/kwin",
                                      "org.kde.kglobalaccel.Component.allShortcutInfos");
  const size_t at = infos.find("'Default Context', ", infos.find("('Kill Window'"));
  return at == std::string::npos ? "" : infos.substr(at + 19, infos.find(']', at) - at - 18);
}

TEST(KdeGlobalShortcuts, AShortcutSetInTheServiceCountsAtOnce) {
  ASSERT_EQ(waylandTestDesktop(), "kwin");
  EXPECT_EQ(WaylandSystemShortcuts().source(), ShortcutSource::kKdeGlobalShortcuts);
  const int64_t superControl = kShortcutSuper | kShortcutControl;
  ASSERT_EQ(killWindowKeys(), "[352321536]");  // Meta+Ctrl+Escape
  KdeGlobalShortcuts kde;
  EXPECT_EQ(kde.isTaken(GDK_KEY_Escape, superControl), true);
  EXPECT_EQ(kde.isTaken(GDK_KEY_y, kShortcutSuper), false);
  ASSERT_NE(
      gdbusCall("org.kde.kglobalaccel", "/kglobalaccel", "org.kde.KGlobalAccel.setForeignShortcut",
                {"['kwin', 'Kill Window', 'KWin', 'Kill Window']", "[268435545]"}),
      "");
  ASSERT_EQ(killWindowKeys(), "[268435545]");  // Meta+Y
  EXPECT_EQ(kde.isTaken(GDK_KEY_y, kShortcutSuper), true);
  EXPECT_EQ(kde.isTaken(GDK_KEY_Escape, superControl), false);
}

}  // namespace
}  // namespace dravel::linux_platform
