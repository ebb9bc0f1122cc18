// sway's default-mode bindings as the host reads them from a config and the
// files it includes.
#include "platform/linux/wayland/sway_shortcuts.h"

#include <gdk/gdk.h>
#include <gtest/gtest.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>

namespace dravel::linux_platform {
namespace {

constexpr int64_t kSuper = kShortcutSuper;

TEST(SwayConfig, DefaultModeBindingsWithVariablesFlagsAndBlocks) {
  const std::pair<const char*, std::vector<SwayBinding>> rows[] = {
      // The longest variable name wins; flags, any case, continued lines.
      {"set $m Mod1\nset $mod Mod4\nbindsym --release --to-code \\\n $mod+ctrl+RETURN exec t",
       {{GDK_KEY_Return, kSuper | kShortcutControl}}},
      {"bindsym --input-device=1:1:kbd Alt+Shift+A kill",
       {{GDK_KEY_a, kShortcutAlt | kShortcutShift}}},
      {"bindsym {\n  Mod4+print exec a\n}\nbindsym --release\n{\nMod4+F1 exec b\n}",
       {{GDK_KEY_Print, kSuper}, {GDK_KEY_F1, kSuper}}},
      // Another mode's bindings, other modifiers, several keys, unknown
      // names, key codes, comments and bindings without a command.
      {"mode \"resize\" {\n bindsym Left resize shrink width\n}\nmode \"x\"\n{\nbindsym a nop\n}",
       {}},
      {"bindsym Mod5+a nop\nbindsym Mod4+a+b nop\nbindsym Mod4+nokey nop\nbindcode 38 nop", {}},
      {"# bindsym Mod4+c nop\nbindsym Mod4+c", {}},
  };
  for (const auto& [config, bindings] : rows) {
    EXPECT_EQ(swayBindingsOf(config, "").bindings, bindings) << config;
  }
}

TEST(SwayConfig, IncludesAreFollowedOnceRelativeToTheirFileWithGlobs) {
  const std::string dir = ::testing::TempDir() + "sway-config-" + std::to_string(::getpid());
  std::filesystem::create_directories(dir + "/conf.d");
  auto write = [&](const char* name, const char* text) { std::ofstream(dir + name) << text; };
  write("/conf.d/10.conf", "bindsym $mod+y exec y\ninclude ../more\n");
  write("/conf.d/20.conf", "bindsym $mod+Shift+y exec y\ninclude ../config\n");
  write("/more", "bindsym Ctrl+F1 nop\ninclude conf.d/10.conf\n");
  write("/config", "");
  const SwayBindings bound =
      swayBindingsOf("set $mod Mod4\ninclude conf.d/*.conf\ninclude none/*", dir + "/config");
  EXPECT_EQ(bound.bindings, (std::vector<SwayBinding>{{GDK_KEY_y, kSuper},
                                                      {GDK_KEY_F1, kShortcutControl},
                                                      {GDK_KEY_y, kSuper | kShortcutShift}}));
  EXPECT_EQ(bound.files, 4u);
  // Without the config's folder only an absolute include can be found.
  EXPECT_EQ(swayBindingsOf("include conf.d/*.conf", "").files, 1u);
  EXPECT_EQ(swayBindingsOf("set $d " + dir + "\ninclude $d/more", "").files, 3u);
  std::filesystem::remove_all(dir);
}

}  // namespace
}  // namespace dravel::linux_platform
