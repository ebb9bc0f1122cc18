// The desktop's preferences on Linux: the only domain the host reads is the
// table of the system's own hotkeys, built here from the desktop's
// keybinding settings (GSettings).
//
// Each entry of the table is {"enabled": 1, "value": {"parameters":
// [65535, keyCode, modifierMask]}} under a running number as its key:
// - keyCode is a GDK key value, lowercased (gdk_keyval_to_lower): the same
//   space the interface's hotkey plugin on Linux registers its shortcuts in,
//   so the host compares like with like;
// - modifierMask holds Shift 0x20000, Control 0x40000, Alt (Mod1) 0x80000
//   and Super (also Meta, Mod4) 0x100000, the bits the host's probe reads.
// A binding with any other modifier (Hyper, Mod3, Mod5, Lock...) has no such
// mask and is left out, rather than shown as a conflict it is not.
//
// Every other domain or key is absent.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "platform/seam/user_defaults.h"

typedef struct _GSettingsSchemaSource GSettingsSchemaSource;
typedef struct _GSettingsBackend GSettingsBackend;

namespace dravel::linux_platform {

// Where keybinding settings are read from: the schemas and the backend
// holding their values. Null for either means the session's own (the
// default schema source, the default backend). Neither is owned.
struct SettingsSource {
  GSettingsSchemaSource* schemas = nullptr;
  GSettingsBackend* backend = nullptr;
};

inline constexpr int64_t kHotkeyShiftMask = 0x20000;
inline constexpr int64_t kHotkeyControlMask = 0x40000;
inline constexpr int64_t kHotkeyAltMask = 0x80000;
inline constexpr int64_t kHotkeySuperMask = 0x100000;
// The first parameter of an entry: the binding's character, which a key
// value does not have.
inline constexpr int64_t kHotkeyNoCharacter = 65535;

struct HotkeyBinding {
  int64_t keyCode = 0;
  int64_t modifierMask = 0;
  bool operator==(const HotkeyBinding&) const = default;
};

// One accelerator as GTK writes it ("<Super><Shift>s", "<Primary>Print"),
// read without a display: "<Primary>" is Control, and the window manager's
// "Above_Tab" is the grave accent (the key above Tab on US and UK layouts;
// other layouts put another key value there). Keys GDK has no name for
// (such as XF86RFKill on older GDK) cannot be registered by the interface
// either and are left out. Absent when unbound ("", "disabled"), unparsable (logged once per text),
// or using a modifier outside the four above.
std::optional<HotkeyBinding> bindingFromAccelerator(const std::string& accelerator);

// The table of the given accelerators, in order, unbound and unparsable
// ones skipped.
Value hotkeyTable(const std::vector<std::string>& accelerators);

// The keybinding schemas read, in order; any that is not installed is
// skipped. The media keys' custom bindings are read from the paths their
// schema lists.
extern const std::vector<std::string> kKeybindingSchemas;

// Every accelerator of the installed schemas among `schemaIds`: each value
// of their string-array keys, and each custom binding's "binding".
std::vector<std::string> acceleratorsFromSettings(const std::vector<std::string>& schemaIds,
                                                  SettingsSource source = {});

class LinuxUserDefaults : public UserDefaults {
 public:
  explicit LinuxUserDefaults(SettingsSource source = {}) : source_(source) {}
  // The hotkey table is read again on every call, so a binding changed in
  // the desktop's settings counts from the next probe on.
  std::optional<Value> dictionaryForKey(const std::string& suite, const std::string& key) override;

 private:
  SettingsSource source_;
};

}  // namespace dravel::linux_platform
