// sway's own bindings on the private sway desktop: a config that includes
// a file of bindings through a variable counts once sway has reloaded it;
// swaymsg's view of sway's config and modes is the oracle.
#include <gdk/gdk.h>
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>

#include "platform/linux/wayland/sway_shortcuts.h"
#include "platform/linux/wayland/wayland_system_shortcuts.h"
#include "tests/support/wayland_oracles.h"
#include "tests/support/x_desktop.h"

namespace dravel::linux_platform {
namespace {

using namespace ::dravel::testing;

TEST(SwayShortcuts, BindingsOfAnIncludedFileCountOnceSwayHasReloaded) {
  ASSERT_EQ(waylandTestDesktop(), "sway");
  // The config the desktop's sway was started with (its -c argument).
  const std::string pid = commandOutput({"pgrep", "-x", "-n", "sway"});
  std::ifstream cmdline("/proc/" + pid.substr(0, pid.find('\n')) + "/cmdline");
  std::string config;
  while (std::getline(cmdline, config, '\0') && config != "-c") {
  }
  ASSERT_TRUE(std::getline(cmdline, config, '\0'));
  const std::string folder = std::filesystem::path(config).parent_path();
  std::filesystem::create_directories(folder + "/keys.d");
  std::ofstream(folder + "/keys.d/shots.conf")
      << "bindsym $mod+Shift+y exec true\nmode \"dravel\" {\n  bindsym $mod+u mode default\n}\n";
  SwayShortcuts sway;
  const int64_t superShift = kShortcutSuper | kShortcutShift;
  EXPECT_EQ(sway.isTaken(GDK_KEY_y, superShift), false);

  std::ofstream(config, std::ios::app) << "\nset $mod Mod4\ninclude keys.d/*.conf\n";
  ASSERT_TRUE(runCommand({"swaymsg", "reload"}));
  ASSERT_NE(commandOutput({"swaymsg", "-t", "get_binding_modes", "-r"}).find("dravel"),
            std::string::npos)
      << "sway read the included file";
  EXPECT_EQ(sway.isTaken(GDK_KEY_y, superShift), true);
  EXPECT_EQ(sway.isTaken(GDK_KEY_y, kShortcutSuper), false);
  EXPECT_EQ(sway.isTaken(GDK_KEY_u, kShortcutSuper), false) << "another mode's";
  EXPECT_EQ(SwayShortcuts::read().value_or(SwayBindings{}).files, 2u);
  EXPECT_EQ(WaylandSystemShortcuts().source(), ShortcutSource::kSwayConfig);
}

}  // namespace
}  // namespace dravel::linux_platform
