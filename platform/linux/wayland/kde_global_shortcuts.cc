#include "platform/linux/wayland/kde_global_shortcuts.h"

#include <gdk/gdk.h>
#include <gio/gio.h>

#include <algorithm>
#include <cctype>
#include <cstdlib>
#include <fstream>
#include <sstream>
#include <string>
#include <string_view>

namespace dravel::linux_platform {
namespace {

constexpr const char* kService = "org.kde.kglobalaccel";
constexpr int kCallTimeoutMs = 500;

constexpr int64_t kQtShift = 0x02000000;
constexpr int64_t kQtControl = 0x04000000;
constexpr int64_t kQtAlt = 0x08000000;
constexpr int64_t kQtMeta = 0x10000000;
constexpr int64_t kQtKeypad = 0x20000000;
constexpr int64_t kQtGroupSwitch = 0x40000000;
constexpr int64_t kQtModifiers =
    kQtShift | kQtControl | kQtAlt | kQtMeta | kQtKeypad | kQtGroupSwitch;

// Qt's codes of keys outside Latin-1 and their key values.
constexpr std::pair<int64_t, int64_t> kQtKeys[] = {
    {0x01000000, GDK_KEY_Escape},       {0x01000001, GDK_KEY_Tab},
    {0x01000002, GDK_KEY_ISO_Left_Tab}, {0x01000003, GDK_KEY_BackSpace},
    {0x01000004, GDK_KEY_Return},       {0x01000005, GDK_KEY_KP_Enter},
    {0x01000006, GDK_KEY_Insert},       {0x01000007, GDK_KEY_Delete},
    {0x01000008, GDK_KEY_Pause},        {0x01000009, GDK_KEY_Print},
    {0x0100000a, GDK_KEY_Sys_Req},      {0x0100000b, GDK_KEY_Clear},
    {0x01000010, GDK_KEY_Home},         {0x01000011, GDK_KEY_End},
    {0x01000012, GDK_KEY_Left},         {0x01000013, GDK_KEY_Up},
    {0x01000014, GDK_KEY_Right},        {0x01000015, GDK_KEY_Down},
    {0x01000016, GDK_KEY_Page_Up},      {0x01000017, GDK_KEY_Page_Down},
    {0x01000024, GDK_KEY_Caps_Lock},    {0x01000025, GDK_KEY_Num_Lock},
    {0x01000026, GDK_KEY_Scroll_Lock},  {0x01000055, GDK_KEY_Menu},
    {0x01000058, GDK_KEY_Help},         {0x01000070, GDK_KEY_AudioLowerVolume},
    {0x01000071, GDK_KEY_AudioMute},    {0x01000072, GDK_KEY_AudioRaiseVolume},
    {0x01000080, GDK_KEY_AudioPlay},    {0x01000081, GDK_KEY_AudioStop},
    {0x01000082, GDK_KEY_AudioPrev},    {0x01000083, GDK_KEY_AudioNext},
};
// F1 to F35.
constexpr int64_t kQtF1 = 0x01000030;
constexpr int64_t kQtF35 = 0x01000052;

// Every call of one reading together may take this long; the main thread
// waits for them.
constexpr gint64 kReadBudgetUs = 1000 * 1000;

GVariant* call(GDBusConnection* bus, gint64 deadline, const char* path, const char* interface,
               const char* method, const char* replyType) {
  const gint64 left = (deadline - g_get_monotonic_time()) / 1000;
  if (left <= 0) return nullptr;
  return g_dbus_connection_call_sync(bus, kService, path, interface, method, nullptr,
                                     G_VARIANT_TYPE(replyType), G_DBUS_CALL_FLAGS_NO_AUTO_START,
                                     static_cast<int>(std::min<gint64>(left, kCallTimeoutMs)),
                                     nullptr, nullptr);
}

// Qt's portable names of the keys of kQtKeys.
constexpr std::pair<std::string_view, int64_t> kQtKeyNames[] = {
    {"esc", 0x01000000},         {"tab", 0x01000001},
    {"backtab", 0x01000002},     {"backspace", 0x01000003},
    {"return", 0x01000004},      {"enter", 0x01000005},
    {"ins", 0x01000006},         {"del", 0x01000007},
    {"pause", 0x01000008},       {"print", 0x01000009},
    {"sysreq", 0x0100000a},      {"clear", 0x0100000b},
    {"home", 0x01000010},        {"end", 0x01000011},
    {"left", 0x01000012},        {"up", 0x01000013},
    {"right", 0x01000014},       {"down", 0x01000015},
    {"pgup", 0x01000016},        {"pgdown", 0x01000017},
    {"capslock", 0x01000024},    {"numlock", 0x01000025},
    {"scrolllock", 0x01000026},  {"menu", 0x01000055},
    {"help", 0x01000058},        {"space", 0x20},
    {"volume down", 0x01000070}, {"volume mute", 0x01000071},
    {"volume up", 0x01000072},   {"media play", 0x01000080},
    {"media stop", 0x01000081},  {"media previous", 0x01000082},
    {"media next", 0x01000083},
};

// The largest file read.
constexpr size_t kMaxFileBytes = 4u << 20;

std::string lowercase(std::string text) {
  for (char& c : text) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  return text;
}

// The Qt code of a key's portable name, without modifiers.
std::optional<int64_t> qtKeyNamed(const std::string& name) {
  if (name.size() == 1 && static_cast<unsigned char>(name[0]) >= 0x20 &&
      static_cast<unsigned char>(name[0]) < 0x7f) {
    return std::toupper(static_cast<unsigned char>(name[0]));
  }
  const std::string lower = lowercase(name);
  if (lower.size() >= 2 && lower[0] == 'f' &&
      lower.find_first_not_of("0123456789", 1) == std::string::npos && lower.size() <= 3) {
    const int n = std::atoi(lower.c_str() + 1);
    if (n >= 1 && n <= 35) return kQtF1 + n - 1;
  }
  for (const auto& [known, code] : kQtKeyNames) {
    if (known == lower) return code;
  }
  return std::nullopt;
}

}  // namespace

std::optional<KdeShortcutKey> kdeShortcutKeyNamed(const std::string& text) {
  if (text.empty()) return std::nullopt;
  // The key is what follows the last "+", unless the key is "+" itself.
  size_t split = text.rfind('+');
  if (text == "+")
    split = std::string::npos;
  else if (text.size() >= 2 && text.ends_with("++"))
    split = text.size() - 2;
  const std::string key = split == std::string::npos ? text : text.substr(split + 1);
  int64_t code = 0;
  if (split != std::string::npos) {
    std::istringstream modifiers(text.substr(0, split));
    for (std::string name; std::getline(modifiers, name, '+');) {
      const std::string lower = lowercase(name);
      if (lower == "meta")
        code |= kQtMeta;
      else if (lower == "ctrl")
        code |= kQtControl;
      else if (lower == "alt")
        code |= kQtAlt;
      else if (lower == "shift")
        code |= kQtShift;
      else
        return std::nullopt;
    }
  }
  const std::optional<int64_t> qt = qtKeyNamed(key);
  if (!qt) return std::nullopt;
  return kdeShortcutKey(code | *qt);
}

std::vector<KdeShortcutKey> kdeShortcutKeysOfFile(const std::string& text) {
  std::vector<KdeShortcutKey> keys;
  std::istringstream in(text);
  for (std::string line; std::getline(in, line);) {
    const size_t equals = line.find('=');
    if (line.empty() || line[0] == '[' || line[0] == '#' || equals == std::string::npos) continue;
    // The active keys: the value up to its first unescaped comma, its
    // escapes undone, the alternatives apart at each tab.
    std::vector<std::string> alternatives(1);
    for (size_t i = equals + 1; i < line.size(); ++i) {
      if (line[i] == ',') break;
      if (line[i] == '\\' && i + 1 < line.size()) {
        const char escaped = line[++i];
        if (escaped == 't')
          alternatives.emplace_back();
        else
          alternatives.back() += escaped;
        continue;
      }
      alternatives.back() += line[i];
    }
    for (const std::string& alternative : alternatives) {
      if (std::optional<KdeShortcutKey> key = kdeShortcutKeyNamed(alternative))
        keys.push_back(*key);
    }
  }
  return keys;
}

std::optional<KdeShortcutKey> kdeShortcutKey(int64_t qtKey) {
  if (qtKey <= 0 || (qtKey & (kQtKeypad | kQtGroupSwitch))) return std::nullopt;
  const int64_t key = qtKey & ~kQtModifiers;
  std::optional<int64_t> value;
  if (key >= 0x20 && key <= 0xff) {
    // Latin-1 keys are their own key values, letters in upper case.
    value = gdk_keyval_to_lower(static_cast<guint>(key));
  } else if (key >= kQtF1 && key <= kQtF35) {
    value = GDK_KEY_F1 + (key - kQtF1);
  } else {
    for (const auto& [code, keyValue] : kQtKeys) {
      if (code == key) value = keyValue;
    }
  }
  if (!value) return std::nullopt;
  KdeShortcutKey result;
  result.keyCode = *value;
  if (qtKey & kQtShift) result.modifiers |= kShortcutShift;
  if (qtKey & kQtControl) result.modifiers |= kShortcutControl;
  if (qtKey & kQtAlt) result.modifiers |= kShortcutAlt;
  if (qtKey & kQtMeta) result.modifiers |= kShortcutSuper;
  return result;
}

std::optional<std::vector<KdeShortcutKey>> KdeGlobalShortcuts::read() {
  GDBusConnection* bus = g_bus_get_sync(G_BUS_TYPE_SESSION, nullptr, nullptr);
  if (!bus) return std::nullopt;
  const gint64 deadline = g_get_monotonic_time() + kReadBudgetUs;
  GVariant* components =
      call(bus, deadline, "/kglobalaccel", "org.kde.KGlobalAccel", "allComponents", "(ao)");
  if (!components) {
    g_object_unref(bus);
    return std::nullopt;
  }
  std::vector<KdeShortcutKey> keys;
  bool complete = true;
  GVariantIter* paths = nullptr;
  g_variant_get(components, "(ao)", &paths);
  const gchar* path = nullptr;
  while (g_variant_iter_next(paths, "&o", &path)) {
    GVariant* infos = call(bus, deadline, path, "org.kde.kglobalaccel.Component",
                           "allShortcutInfos", "(a(ssssssaiai))");
    // A component that cannot be read makes the whole answer unknown: a
    // combination it holds would otherwise look free.
    if (!infos) {
      complete = false;
      break;
    }
    GVariant* list = g_variant_get_child_value(infos, 0);
    const gsize count = g_variant_n_children(list);
    for (gsize i = 0; i < count; ++i) {
      GVariant* info = g_variant_get_child_value(list, i);
      GVariant* active = g_variant_get_child_value(info, 6);
      gsize n = 0;
      const gint32* codes =
          static_cast<const gint32*>(g_variant_get_fixed_array(active, &n, sizeof(gint32)));
      for (gsize k = 0; k < n; ++k) {
        if (std::optional<KdeShortcutKey> key = kdeShortcutKey(codes[k])) keys.push_back(*key);
      }
      g_variant_unref(active);
      g_variant_unref(info);
    }
    g_variant_unref(list);
    g_variant_unref(infos);
  }
  g_variant_iter_free(paths);
  g_variant_unref(components);
  g_object_unref(bus);
  if (!complete) return std::nullopt;
  return keys;
}

std::optional<std::vector<KdeShortcutKey>> KdeGlobalShortcuts::readFile() {
  const char* config = std::getenv("XDG_CONFIG_HOME");
  const char* home = std::getenv("HOME");
  std::string path;
  if (config && *config == '/')
    path = std::string(config) + "/kglobalshortcutsrc";
  else if (home && *home)
    path = std::string(home) + "/.config/kglobalshortcutsrc";
  else
    return std::nullopt;
  std::ifstream in(path, std::ios::binary);
  if (!in) return std::nullopt;
  std::string text(kMaxFileBytes, '\0');
  in.read(text.data(), static_cast<std::streamsize>(text.size()));
  text.resize(static_cast<size_t>(in.gcount()));
  return kdeShortcutKeysOfFile(text);
}

std::optional<bool> KdeGlobalShortcuts::isTaken(int64_t keyCode, int64_t modifiers) {
  std::optional<std::vector<KdeShortcutKey>> keys = read();
  if (!keys) keys = readFile();
  if (!keys) return std::nullopt;
  const KdeShortcutKey wanted{keyCode, modifiers};
  return std::find(keys->begin(), keys->end(), wanted) != keys->end();
}

}  // namespace dravel::linux_platform
