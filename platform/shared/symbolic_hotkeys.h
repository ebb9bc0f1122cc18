// The table of symbolic hotkeys as a preferences domain stores it (see
// user_defaults.h): entries {"enabled": 1, "value": {"parameters":
// [character, keyCode, modifierMask]}} under any key, which may hold
// anything.
#pragma once

#include <cstdint>
#include <optional>

#include "channels/value.h"

namespace dravel {

// Whether an enabled, well-formed entry of `table` holds `keyCode` with
// exactly `modifiers` (of an entry's mask only the four modifier bits of
// system_shortcuts.h count). Absent when `table` is absent or not a map.
std::optional<bool> symbolicHotkeyTaken(const std::optional<Value>& table, int64_t keyCode,
                                        int64_t modifiers);

}  // namespace dravel
