#include "host/generated_plugin_registrant.h"

#include "platform/seam/platform.h"

namespace dravel {
namespace {

struct PluginRow {
  const char* key;
  const char* module;
  const char* call;
};

constexpr PluginRow kPlugins[] = {
    {"EmojiPickerFlutterPlugin", "emoji_picker_flutter", "register(with:)"},
    {"FileSelectorPlugin", "file_selector_macos", "register(with:)"},
    {"HotkeyManagerMacosPlugin", "hotkey_manager_macos", "register(with:)"},
    {"FPPPackageInfoPlusPlugin", "package_info_plus", "registerWithRegistrar:"},
    {"ScreenRetrieverMacosPlugin", "screen_retriever_macos", "register(with:)"},
    {"SharePlusMacosPlugin", "share_plus", "register(with:)"},
    {"SharedPreferencesPlugin", "shared_preferences_foundation", "register(with:)"},
    {"TrayManagerPlugin", "tray_manager", "register(with:)"},
    {"UrlLauncherPlugin", "url_launcher_macos", "register(with:)"},
    {"WindowManagerPlugin", "window_manager", "register(with:)"},
};

}  // namespace

void registerGeneratedPlugins(FlutterViewController& registry) {
  for (const PluginRow& row : kPlugins) {
    FlutterPluginRegistrar& registrar = registry.registrarForPlugin(row.key);
    platform().embedding().registerExternalPlugin(row.module, row.call, registrar);
  }
}

}  // namespace dravel
