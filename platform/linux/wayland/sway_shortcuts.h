// sway's own shortcuts: the key bindings of its default mode, read from the
// config it last loaded (sway's IPC, GET_CONFIG) and the files that config
// includes, read again on every question, so that a config sway has
// reloaded counts from the next question on.
//
// What is read, as sway reads its config (sway(5)):
// - `set $name value` defines a variable, replaced in every later line (the
//   longest name matching at each "$");
// - `include PATH` reads another file: an absolute path, or one relative to
//   the folder of the file naming it, with "~", environment variables and
//   globs expanded (never a command); each file is read once;
// - `bindsym [--flags] COMBO COMMAND` outside every `mode` block is a
//   binding of the default mode: COMBO is modifiers (Shift, Control or Ctrl,
//   Mod1 or Alt, Mod4 or Super, any case) and one key, an xkb key name
//   (matched as GDK names keys, then with its case changed); a binding
//   with another modifier (Lock, Mod2, Mod3, Mod5), several keys or a key
//   GDK cannot name is left out;
// - `bindcode` bindings name key codes of the keymap, not keys: left out
//   (said once in the log);
// - blocks (`bindsym {` ... `}`, `mode "resize" {` ... `}`), comments and
//   continued lines (ending in "\").
// Bounds: at most kMaxSwayConfigFiles files, includes nested at most
// kMaxSwayIncludeDepth deep, kMaxSwayConfigBytes in all.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "platform/seam/system_shortcuts.h"

namespace dravel::linux_platform {

inline constexpr size_t kMaxSwayConfigFiles = 64;
inline constexpr int kMaxSwayIncludeDepth = 8;
inline constexpr size_t kMaxSwayConfigBytes = 4u << 20;

struct SwayBinding {
  // A lowercase key value.
  int64_t keyCode = 0;
  // The bits of system_shortcuts.h.
  int64_t modifiers = 0;
  bool operator==(const SwayBinding&) const = default;
};

struct SwayBindings {
  std::vector<SwayBinding> bindings;
  // The files read: the main config and each file it included.
  size_t files = 0;
};

// The default mode's bindings of the config `text`, read from `path` (its
// folder is where relative includes are found; empty when not known, and
// relative includes are then left out).
SwayBindings swayBindingsOf(const std::string& text, const std::string& path);

// The config file sway process `pid` runs with: its -c or --config
// argument (relative to its working folder), else the first of sway's own
// search list that exists. Empty when none is found.
std::string swayConfigPath(int64_t pid);

// The key value of an xkb key name as a sway binding names it, lowercase;
// absent when GDK has no key of that name.
std::optional<int64_t> swayKeyNamed(const std::string& name);

class SwayShortcuts : public SystemShortcuts {
 public:
  std::optional<bool> isTaken(int64_t keyCode, int64_t modifiers) override;
  // The bindings as sway now holds them; absent when its IPC does not answer.
  static std::optional<SwayBindings> read();
};

}  // namespace dravel::linux_platform
