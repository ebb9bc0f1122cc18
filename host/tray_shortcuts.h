// Key equivalents, badges and hints on the items of the tray menu. The tray
// menu is built by the interface's tray plugin, which knows nothing of them;
// this watches menus for added items and decorates the items of menus of
// class "TrayMenu" (with or without a module prefix) as they are added.
#pragma once

#include <cstdint>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "channels/value.h"
#include "platform/shared/notification_center.h"

namespace dravel {

class TrayShortcuts {
 public:
  struct Shortcut {
    std::string key;    // the key equivalent as received, never empty
    uint64_t mask = 0;  // modifier-flag mask
    bool operator==(const Shortcut&) const = default;
  };

  // Modifier names and their mask bits.
  static constexpr uint64_t kShiftMask = 0x20000;
  static constexpr uint64_t kControlMask = 0x40000;
  static constexpr uint64_t kOptionMask = 0x80000;
  static constexpr uint64_t kCommandMask = 0x100000;

  static TrayShortcuts& shared();

  // Replaces the shortcut, badge and hint tables as a whole, and starts
  // watching for added menu items on the first call.
  void update(const std::vector<ValueMap>& items, const std::map<std::string, std::string>& badges,
              const std::map<std::string, std::string>& hints);

  const std::map<std::string, Shortcut>& byLabel() const { return byLabel_; }
  const std::map<std::string, std::string>& badges() const { return badges_; }
  const std::map<std::string, std::string>& hints() const { return hints_; }

  // Back to the state before the first update (the observer goes with the
  // simulated desktop it was registered on).
  static void resetForTesting();

 private:
  TrayShortcuts() = default;
  static std::shared_ptr<TrayShortcuts>& instance();
  void didAddItem(const AppNotification& notification);

  std::map<std::string, Shortcut> byLabel_;
  std::map<std::string, std::string> badges_;
  std::map<std::string, std::string> hints_;
  ObserverToken observer_;
};

}  // namespace dravel
