// GNOME's keybinding settings on the private GNOME desktop: a binding
// changed with gsettings counts from the next question on.
#include <gdk/gdk.h>
#include <gtest/gtest.h>

#include "platform/linux/session/gnome_shortcuts.h"
#include "platform/linux/wayland/wayland_system_shortcuts.h"
#include "tests/support/wayland_oracles.h"
#include "tests/support/x_desktop.h"

namespace dravel::linux_platform {
namespace {

using namespace ::dravel::testing;

TEST(GnomeShortcuts, ABindingChangedWithGsettingsCountsAtOnce) {
  ASSERT_EQ(waylandTestDesktop(), "gnome");
  EXPECT_EQ(WaylandSystemShortcuts().source(), ShortcutSource::kGnomeSettings);
  GnomeShortcuts gnome;
  const int64_t superAlt = kShortcutSuper | kShortcutAlt;
  EXPECT_EQ(gnome.isTaken(GDK_KEY_Print, 0), true) << "GNOME's screenshot key";
  EXPECT_EQ(gnome.isTaken(GDK_KEY_y, superAlt), false);

  ASSERT_TRUE(runCommand({"gsettings", "set", "org.gnome.shell.keybindings", "show-screenshot-ui",
                          "['<Super><Alt>y']"}));
  ASSERT_EQ(
      commandOutput({"gsettings", "get", "org.gnome.shell.keybindings", "show-screenshot-ui"}),
      "['<Super><Alt>y']\n");
  EXPECT_EQ(gnome.isTaken(GDK_KEY_y, superAlt), true);
  EXPECT_EQ(gnome.isTaken(GDK_KEY_Print, 0), false) << "no longer bound";
}

}  // namespace
}  // namespace dravel::linux_platform
