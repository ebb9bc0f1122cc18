// The tray menu on Linux. The interface's tray plugin builds it as a plain
// GtkMenu (items appended one at a time, each a GtkMenuItem with its label)
// and hands it to the application indicator, which shows it in another
// process over D-Bus (a StatusNotifierItem with a dbusmenu menu). The host
// decorates tray menu items as they are added to a menu of class "TrayMenu";
// this bridge gives it such a menu to watch.
//
// Every item inserted into a GtkMenu is heard through an emission hook on
// GtkMenuShell's "insert" signal (installed once, removed with the bridge).
// When the GtkMenu is a tray menu, the item is mirrored: appended to a Menu of
// class "TrayMenu" made with the desktop's notification centre (one mirror
// per GtkMenu, which goes with it), so the host hears of it and decorates the
// mirror before the add returns. The decoration is then carried over to the
// GtkMenuItem in the forms the D-Bus menu can show:
//   * a key equivalent becomes an accelerator on the item (in one
//     accelerator group of the bridge's): modifier bits shift, control,
//     option and command become Shift, Control, Alt (Mod1) and Super; the key
//     is the equivalent's first character, and an upper-case letter also
//     means shift, as the toolkit's key equivalents do ("S" with control is
//     Control+Shift+s). An equivalent GTK cannot take as an accelerator is
//     left off;
//   * a custom view (badge, hint) cannot cross to the other process, so its
//     text reading (View::textLabel) becomes the item's label.
// Separators and items without a label are mirrored too, so that the mirror's
// indices stay those of the GtkMenu, but never decorated. The mirrored item's
// action activates the GtkMenuItem while it exists.
//
// Which GtkMenu is a tray menu: there is no class to tell it by, so it is told
// by how the plugin makes it: a free-standing GtkMenu (no attach widget, so
// not a submenu set on an item, nor the context menu of an entry or label, nor
// a menu bar, which is no GtkMenu) at the time the item is added. A submenu
// filled before it is set on its item is free-standing while it is filled,
// and so is mirrored as a tray menu of its own, as the plugin's submenus are
// on the other desktop; a menu attached to a widget is never touched.
//
// On a desktop without a StatusNotifierItem host the indicator shows nothing
// in a panel (GNOME Shell needs its AppIndicator extension); the bridge works
// all the same, there is simply no panel to see the result.
#pragma once

#include <cstdint>
#include <memory>
#include <optional>
#include <string>

#include "platform/shared/menu.h"
#include "platform/shared/notification_center.h"

typedef struct _GtkAccelGroup GtkAccelGroup;
typedef struct _GtkMenu GtkMenu;
typedef struct _GtkWidget GtkWidget;

namespace dravel::linux_platform {

class LinuxTrayMenus {
 public:
  // Installs the hook; items added from now on are mirrored and announced
  // through `center`, which must outlive the bridge.
  explicit LinuxTrayMenus(AppNotificationCenter& center);
  ~LinuxTrayMenus();
  LinuxTrayMenus(const LinuxTrayMenus&) = delete;
  LinuxTrayMenus& operator=(const LinuxTrayMenus&) = delete;

  // The mirror of `menu`; null when none of its items was mirrored.
  static std::shared_ptr<Menu> mirrorOf(GtkMenu* menu);

  // An accelerator as GTK takes it: a key value and a GdkModifierType mask.
  struct Accelerator {
    unsigned key = 0;
    unsigned modifiers = 0;
    bool operator==(const Accelerator&) const = default;
  };
  // The accelerator for a key equivalent with the toolkit's modifier-flag
  // `mask`; none when the equivalent is empty, not UTF-8, or no valid
  // accelerator.
  static std::optional<Accelerator> acceleratorFor(const std::string& keyEquivalent, uint64_t mask);

  // Public only for the emission hook: `child` was inserted into `menu`.
  void itemInserted(GtkMenu* menu, GtkWidget* child);

 private:
  AppNotificationCenter& center_;
  // Holds the accelerators of decorated items.
  GtkAccelGroup* accelGroup_ = nullptr;
  unsigned signalId_ = 0;
  unsigned long hookId_ = 0;
  bool saidWhatItDoes_ = false;  // logged on the first tray menu
};

}  // namespace dravel::linux_platform
