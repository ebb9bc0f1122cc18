// Which desktop answers for the shortcuts on a Wayland session, by what the
// session shows; none answering when it shows nothing.
#include "platform/linux/wayland/wayland_system_shortcuts.h"

#include <gtest/gtest.h>

namespace dravel::linux_platform {
namespace {

TEST(WaylandShortcutSource, SwayThenKdeThenGnomeElseNoneWhichCannotTell) {
  using S = ShortcutSource;
  EXPECT_EQ(chooseShortcutSource({true, true, true}), S::kSwayConfig);
  EXPECT_EQ(chooseShortcutSource({false, true, true}), S::kKdeGlobalShortcuts);
  EXPECT_EQ(chooseShortcutSource({false, false, true}), S::kGnomeSettings);
  EXPECT_EQ(chooseShortcutSource({false, false, false}), S::kNone);
  EXPECT_EQ(WaylandSystemShortcuts(S::kNone).isTaken(0xff61, 0), std::nullopt);
}

}  // namespace
}  // namespace dravel::linux_platform
