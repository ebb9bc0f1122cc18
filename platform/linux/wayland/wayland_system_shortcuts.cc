#include "platform/linux/wayland/wayland_system_shortcuts.h"

#include "channels/log.h"
#include "platform/linux/session/gnome_shortcuts.h"
#include "platform/linux/wayland/kde_global_shortcuts.h"
#include "platform/linux/wayland/sway_shortcuts.h"
#include "platform/linux/wayland/wayland_capabilities.h"

namespace dravel::linux_platform {
namespace {

std::unique_ptr<SystemShortcuts> shortcutsOf(ShortcutSource source) {
  switch (source) {
    case ShortcutSource::kSwayConfig:
      return std::make_unique<SwayShortcuts>();
    case ShortcutSource::kKdeGlobalShortcuts:
      return std::make_unique<KdeGlobalShortcuts>();
    case ShortcutSource::kGnomeSettings:
      return std::make_unique<GnomeShortcuts>();
    case ShortcutSource::kNone:
      break;
  }
  return nullptr;
}

}  // namespace

ShortcutSource chooseShortcutSource(const ShortcutOffers& offers) {
  if (offers.swayConfig) return ShortcutSource::kSwayConfig;
  if (offers.kdeGlobalShortcuts) return ShortcutSource::kKdeGlobalShortcuts;
  if (offers.gnomeShell) return ShortcutSource::kGnomeSettings;
  return ShortcutSource::kNone;
}

WaylandSystemShortcuts::WaylandSystemShortcuts(ShortcutSource source)
    : source_(source), shortcuts_(shortcutsOf(source)) {}

WaylandSystemShortcuts::WaylandSystemShortcuts() {
  const std::optional<SwayBindings> sway = SwayShortcuts::read();
  ShortcutOffers offers;
  offers.swayConfig = sway.has_value();
  offers.kdeGlobalShortcuts = !offers.swayConfig && nameOwnedOnSessionBus("org.kde.kglobalaccel");
  offers.gnomeShell =
      !offers.swayConfig && !offers.kdeGlobalShortcuts && nameOwnedOnSessionBus("org.gnome.Shell");
  source_ = chooseShortcutSource(offers);
  shortcuts_ = shortcutsOf(source_);
  switch (source_) {
    case ShortcutSource::kSwayConfig:
      NSLog("[hotkeys] the desktop's shortcuts: sway's config (%zu file%s)", sway->files,
            sway->files == 1 ? "" : "s");
      break;
    case ShortcutSource::kKdeGlobalShortcuts:
      NSLog("[hotkeys] the desktop's shortcuts: KDE's global shortcuts");
      break;
    case ShortcutSource::kGnomeSettings:
      NSLog("[hotkeys] the desktop's shortcuts: GNOME's keybinding settings");
      break;
    case ShortcutSource::kNone:
      NSLog("[hotkeys] the desktop's shortcuts: none this desktop tells");
      break;
  }
}

std::optional<bool> WaylandSystemShortcuts::isTaken(int64_t keyCode, int64_t modifiers) {
  if (!shortcuts_) return std::nullopt;
  return shortcuts_->isTaken(keyCode, modifiers);
}

}  // namespace dravel::linux_platform
