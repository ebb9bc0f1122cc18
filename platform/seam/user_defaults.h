// Preferences of other domains (another application's or the system's).
#pragma once

#include <optional>
#include <string>

#include "channels/value.h"

namespace dravel {

// The domain and key of the system's table of symbolic hotkeys.
inline constexpr const char* kSymbolicHotkeysSuite = "com.apple.symbolichotkeys";
inline constexpr const char* kSymbolicHotkeysKey = "AppleSymbolicHotKeys";

class UserDefaults {
 public:
  virtual ~UserDefaults() = default;
  // The map stored under `key` in the preferences domain `suite`, as stored:
  // its entries may hold anything. Absent when the domain cannot be opened or
  // holds no map under that key.
  virtual std::optional<Value> dictionaryForKey(const std::string& suite,
                                                const std::string& key) = 0;
};

}  // namespace dravel
