#include "host/tray_shortcuts.h"

namespace dravel {

TrayShortcuts& TrayShortcuts::shared() {
  static TrayShortcuts* const instance = new TrayShortcuts();
  return *instance;
}

// Tray menus are not part of the platform yet.
void TrayShortcuts::update(const std::vector<ValueMap>&, const std::map<std::string, std::string>&,
                           const std::map<std::string, std::string>&) {}

}  // namespace dravel
