#include "platform/linux/session/linux_user_defaults.h"

#include <gio/gio.h>
#include <gtk/gtk.h>

#include <cstring>
#include <mutex>
#include <set>
#include <string_view>

#include "channels/log.h"

namespace dravel::linux_platform {
namespace {

constexpr const char* kMediaKeysSchema = "org.gnome.settings-daemon.plugins.media-keys";
constexpr const char* kCustomBindingSchema =
    "org.gnome.settings-daemon.plugins.media-keys.custom-keybinding";
// The media keys' list of custom binding paths: paths, not accelerators.
constexpr const char* kCustomBindingsKey = "custom-keybindings";
constexpr const char* kCustomBindingKey = "binding";

// Logs a text only the first time this process sees it, so that a bad
// binding is reported once and not on every probe.
void logOnce(const std::string& what, const std::string& text) {
  static std::mutex mutex;
  static std::set<std::string> seen;
  {
    std::lock_guard lock(mutex);
    if (!seen.insert(what + '\n' + text).second) return;
  }
  NSLog("[hotkeys] %s: \"%s\" (left out of the system hotkeys)", what.c_str(), text.c_str());
}

// The installed schema of that id, or null: opening settings of a schema
// that is not installed would abort the process.
GSettingsSchema* installedSchema(const SettingsSource& from, const char* id) {
  GSettingsSchemaSource* source =
      from.schemas ? from.schemas : g_settings_schema_source_get_default();
  if (!source) return nullptr;
  return g_settings_schema_source_lookup(source, id, TRUE);
}

// Whether the key's values are of that type.
bool keyHasType(GSettingsSchema* schema, const char* key, const GVariantType* type) {
  GSettingsSchemaKey* schemaKey = g_settings_schema_get_key(schema, key);
  const bool matches = g_variant_type_equal(g_settings_schema_key_get_value_type(schemaKey), type);
  g_settings_schema_key_unref(schemaKey);
  return matches;
}

void appendStrv(GSettings* settings, const char* key, std::vector<std::string>& out) {
  gchar** values = g_settings_get_strv(settings, key);
  for (gchar** v = values; v && *v; ++v) out.emplace_back(*v);
  g_strfreev(values);
}

// A custom binding at `path`: its single accelerator.
void appendCustomBinding(const SettingsSource& from, const char* path,
                         std::vector<std::string>& out) {
  GSettingsSchema* schema = installedSchema(from, kCustomBindingSchema);
  if (!schema) return;
  if (g_settings_schema_has_key(schema, kCustomBindingKey) &&
      keyHasType(schema, kCustomBindingKey, G_VARIANT_TYPE_STRING)) {
    GSettings* settings = g_settings_new_full(schema, from.backend, path);
    gchar* binding = g_settings_get_string(settings, kCustomBindingKey);
    out.emplace_back(binding);
    g_free(binding);
    g_object_unref(settings);
  }
  g_settings_schema_unref(schema);
}

bool isValidPath(const char* path) {
  // A relocatable schema's path starts and ends with '/' and has no "//";
  // g_settings_new_full aborts on anything else.
  const size_t length = strlen(path);
  return length >= 1 && path[0] == '/' && path[length - 1] == '/' && !strstr(path, "//");
}

void appendSchema(const SettingsSource& from, const std::string& id,
                  std::vector<std::string>& out) {
  GSettingsSchema* schema = installedSchema(from, id.c_str());
  if (!schema) return;
  // A relocatable schema has no path of its own to be read at.
  if (!g_settings_schema_get_path(schema)) {
    g_settings_schema_unref(schema);
    return;
  }
  GSettings* settings = g_settings_new_full(schema, from.backend, nullptr);
  const bool isMediaKeys = id == kMediaKeysSchema;
  gchar** keys = g_settings_schema_list_keys(schema);
  for (gchar** key = keys; key && *key; ++key) {
    if (!keyHasType(schema, *key, G_VARIANT_TYPE_STRING_ARRAY)) continue;
    if (isMediaKeys && strcmp(*key, kCustomBindingsKey) == 0) {
      std::vector<std::string> paths;
      appendStrv(settings, *key, paths);
      for (const std::string& path : paths) {
        if (isValidPath(path.c_str()))
          appendCustomBinding(from, path.c_str(), out);
        else
          logOnce("custom binding at an invalid path", path);
      }
      continue;
    }
    appendStrv(settings, *key, out);
  }
  g_strfreev(keys);
  g_object_unref(settings);
  g_settings_schema_unref(schema);
}

// The accelerator with what GTK would need a display for, or cannot name,
// spelled out: "<Primary>" is Control on this desktop (GTK asks the
// display's keymap for it), and "Above_Tab", the window manager's name for
// the key above Tab, is taken as that key on common layouts, the grave
// accent.
std::string withoutDesktopNames(std::string accelerator) {
  static const std::pair<std::string_view, std::string_view> kNames[] = {{"<primary>", "<Control>"},
                                                                         {"above_tab", "grave"}};
  for (const auto& [name, replacement] : kNames) {
    for (size_t at = 0; at + name.size() <= accelerator.size();) {
      if (g_ascii_strncasecmp(accelerator.c_str() + at, name.data(), name.size()) != 0) {
        ++at;
        continue;
      }
      accelerator.replace(at, name.size(), replacement);
      at += replacement.size();
    }
  }
  return accelerator;
}

}  // namespace

const std::vector<std::string> kKeybindingSchemas = {
    "org.gnome.shell.keybindings",  "org.gnome.desktop.wm.keybindings",     kMediaKeysSchema,
    "org.gnome.mutter.keybindings", "org.gnome.mutter.wayland.keybindings",
};

std::optional<HotkeyBinding> bindingFromAccelerator(const std::string& accelerator) {
  if (accelerator.empty() || accelerator == "disabled") return std::nullopt;
  guint keyval = 0;
  GdkModifierType modifiers = GdkModifierType(0);
  gtk_accelerator_parse(withoutDesktopNames(accelerator).c_str(), &keyval, &modifiers);
  if (keyval == 0) {
    logOnce("unreadable accelerator", accelerator);
    return std::nullopt;
  }
  HotkeyBinding binding;
  binding.keyCode = gdk_keyval_to_lower(keyval);
  const guint known[][2] = {
      {GDK_SHIFT_MASK, guint(kHotkeyShiftMask)}, {GDK_CONTROL_MASK, guint(kHotkeyControlMask)},
      {GDK_MOD1_MASK, guint(kHotkeyAltMask)},    {GDK_SUPER_MASK, guint(kHotkeySuperMask)},
      {GDK_META_MASK, guint(kHotkeySuperMask)},  {GDK_MOD4_MASK, guint(kHotkeySuperMask)},
  };
  guint rest = modifiers;
  for (const auto& [gdkMask, hostMask] : known) {
    if (!(modifiers & gdkMask)) continue;
    binding.modifierMask |= hostMask;
    rest &= ~gdkMask;
  }
  if (rest != 0) {
    logOnce("accelerator with a modifier the host cannot tell apart", accelerator);
    return std::nullopt;
  }
  return binding;
}

Value hotkeyTable(const std::vector<std::string>& accelerators) {
  ValueMap table;
  int id = 0;
  for (const std::string& accelerator : accelerators) {
    std::optional<HotkeyBinding> binding = bindingFromAccelerator(accelerator);
    if (!binding) continue;
    table.set(
        std::to_string(++id),
        ValueMap{{"enabled", 1},
                 {"value", ValueMap{{"parameters", ValueList{kHotkeyNoCharacter, binding->keyCode,
                                                             binding->modifierMask}}}}});
  }
  return table;
}

std::vector<std::string> acceleratorsFromSettings(const std::vector<std::string>& schemaIds,
                                                  SettingsSource source) {
  std::vector<std::string> accelerators;
  for (const std::string& id : schemaIds) appendSchema(source, id, accelerators);
  return accelerators;
}

std::optional<Value> LinuxUserDefaults::dictionaryForKey(const std::string& suite,
                                                         const std::string& key) {
  if (suite != kSymbolicHotkeysSuite || key != kSymbolicHotkeysKey) return std::nullopt;
  return hotkeyTable(acceleratorsFromSettings(kKeybindingSchemas, source_));
}

}  // namespace dravel::linux_platform
