// Menus and menu items. A menu announces every added item through the
// notification centre it was made with, before the adding call returns.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "platform/shared/notification_center.h"
#include "platform/shared/view.h"

namespace dravel {

class Menu;

class MenuItem : public std::enable_shared_from_this<MenuItem> {
 public:
  using Action = std::function<void(MenuItem& sender)>;

  static std::shared_ptr<MenuItem> create(std::string title, Action action = {},
                                          std::string keyEquivalent = "");

  const std::string& title() const { return title_; }
  const std::string& keyEquivalent() const { return keyEquivalent_; }
  void setKeyEquivalent(std::string key) { keyEquivalent_ = std::move(key); }
  uint64_t keyEquivalentModifierMask() const { return modifierMask_; }
  void setKeyEquivalentModifierMask(uint64_t mask) { modifierMask_ = mask; }
  bool isEnabled() const { return enabled_; }
  void setEnabled(bool enabled) { enabled_ = enabled; }
  // Set by the menu while the pointer is over the item during tracking.
  bool isHighlighted() const { return highlighted_; }
  void setHighlighted(bool highlighted) { highlighted_ = highlighted; }

  // A custom view replaces the item's standard drawing and click handling.
  const std::shared_ptr<View>& view() const { return view_; }
  void setView(std::shared_ptr<View> view);

  const std::shared_ptr<Menu>& submenu() const { return submenu_; }
  void setSubmenu(std::shared_ptr<Menu> submenu) { submenu_ = std::move(submenu); }

  // The menu that holds the item, if any.
  std::shared_ptr<Menu> menu() const { return menu_.lock(); }

  const Action& action() const { return action_; }

 private:
  friend class Menu;
  MenuItem() = default;
  std::string title_;
  std::string keyEquivalent_;
  uint64_t modifierMask_ = 0x100000;  // command, the toolkit's default
  bool enabled_ = true;
  bool highlighted_ = false;
  std::shared_ptr<View> view_;
  std::shared_ptr<Menu> submenu_;
  std::weak_ptr<Menu> menu_;
  Action action_;
};

class Menu : public AppObject, public std::enable_shared_from_this<Menu> {
 public:
  // `className` is the class the menu is an instance of, as the runtime names
  // it; `center` hears of added items (none when null).
  static std::shared_ptr<Menu> create(std::string title, std::string className = "NSMenu",
                                      AppNotificationCenter* center = nullptr);

  std::string className() const override { return className_; }
  const std::string& title() const { return title_; }
  const std::vector<std::shared_ptr<MenuItem>>& itemArray() const { return items_; }
  int64_t numberOfItems() const { return static_cast<int64_t>(items_.size()); }

  // Appends the item and announces it (with its index) before returning.
  void addItem(std::shared_ptr<MenuItem> item);
  // The item's index, or -1 when it is not in this menu.
  int64_t indexOfItem(const MenuItem& item) const;

  // Tracking: the menu is open on screen.
  bool isTracking() const { return tracking_; }
  void setTracking(bool tracking) { tracking_ = tracking; }
  // Closes the menu at once.
  void cancelTrackingWithoutAnimation();
  int cancellations() const { return cancellations_; }
  // Runs the action of the item at `index` when there is one and it is enabled.
  void performActionForItemAtIndex(int64_t index);

  // Lays the menu out as it is shown: its width is the widest item (a custom
  // view's width, or the title's with the standard margins), at least
  // `minimumWidth`; width-sizable item views are stretched to it. Returns the
  // width.
  double layoutItems(double minimumWidth = 0);

 private:
  Menu() = default;
  std::string title_;
  std::string className_;
  AppNotificationCenter* center_ = nullptr;
  std::vector<std::shared_ptr<MenuItem>> items_;
  bool tracking_ = false;
  int cancellations_ = 0;
};

}  // namespace dravel
