// Whether a key combination is free of the system's own hotkeys.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace dravel {

namespace HotkeyProbe {
// The mask of the named modifiers: "shift" 0x20000, "control" 0x40000, "alt"
// 0x80000, "meta" 0x100000, matched exactly; other names add nothing.
int64_t modifierMask(const std::vector<std::string>& modifiers);
// True when free, false when an enabled system hotkey uses it, absent when
// the probe cannot tell.
std::optional<bool> isFree(std::optional<int64_t> keyCode,
                           const std::vector<std::string>& modifiers);
}  // namespace HotkeyProbe

}  // namespace dravel
