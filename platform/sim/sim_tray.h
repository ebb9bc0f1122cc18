// A stand-in for the interface's tray plugin, which lies outside the host: it
// builds tray menus the way that plugin does, adding the items one at a time
// to a menu of class "TrayMenu", so that each addition is announced; and it
// plays the user releasing the mouse over an item.
#pragma once

#include <memory>
#include <string>
#include <vector>

#include "channels/value.h"
#include "platform/shared/menu.h"

namespace dravel::sim {

class SimTray {
 public:
  explicit SimTray(AppNotificationCenter& center) : center_(center) {}

  // Builds a menu from its `description`: {"labels": [entry...], "className": string
  // (default "TrayMenu")}, where an entry is a label string or a map
  // {"label": string, "enabled": bool, "submenu": description}. A submenu is built
  // (its items announced) before its item joins the parent. The menu is then
  // laid out as shown and starts tracking. Null (with `error` set) for a
  // malformed description.
  std::shared_ptr<Menu> buildMenu(const Value& description, std::string* error = nullptr);

  // The user releases the mouse over the item at `index`: the item is
  // highlighted; a custom view takes the mouse-up itself, a standard item
  // closes the menu and runs its action.
  bool releaseMouseOnItem(Menu& menu, int64_t index);

  // Menus built, oldest first.
  std::vector<std::shared_ptr<Menu>> menus;
  // Titles of the items whose action ran, in order.
  std::vector<std::string> performed;

  static Value describeMenu(const Menu& menu);

 private:
  AppNotificationCenter& center_;
};

}  // namespace dravel::sim
