// Whether a key combination is free of the system's own hotkeys.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace dravel {

namespace HotkeyProbe {
// True when free, false when an enabled system hotkey uses it, absent when
// the probe cannot tell.
std::optional<bool> isFree(std::optional<int64_t> keyCode,
                           const std::vector<std::string>& modifiers);
}  // namespace HotkeyProbe

}  // namespace dravel
