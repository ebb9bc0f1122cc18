// The desktop's own shortcuts: whether a key combination is one the desktop
// (its window manager, compositor or shortcut service) already holds, so
// that a hotkey on it would never reach the host.
#pragma once

#include <cstdint>
#include <optional>

namespace dravel {

// The modifier bits of a combination.
inline constexpr int64_t kShortcutShift = 0x20000;
inline constexpr int64_t kShortcutControl = 0x40000;
inline constexpr int64_t kShortcutAlt = 0x80000;
inline constexpr int64_t kShortcutSuper = 0x100000;

class SystemShortcuts {
 public:
  virtual ~SystemShortcuts() = default;
  // `keyCode` names the key as the interface's hotkeys do (on Linux a
  // lowercase key value, as GDK and X name keys); `modifiers` holds the bits
  // above, nothing else. True when the desktop holds the combination, false
  // when it is free, absent when this desktop cannot tell.
  virtual std::optional<bool> isTaken(int64_t keyCode, int64_t modifiers) = 0;
};

}  // namespace dravel
