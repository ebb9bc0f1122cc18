#include "platform/shared/menu.h"

#include <algorithm>

namespace dravel {

std::shared_ptr<MenuItem> MenuItem::create(std::string title, Action action,
                                           std::string keyEquivalent) {
  std::shared_ptr<MenuItem> item(new MenuItem());
  item->title_ = std::move(title);
  item->action_ = std::move(action);
  item->keyEquivalent_ = std::move(keyEquivalent);
  return item;
}

void MenuItem::setView(std::shared_ptr<View> view) {
  if (view_) view_->menuItem_.reset();
  view_ = std::move(view);
  if (view_) view_->menuItem_ = weak_from_this();
}

std::shared_ptr<Menu> Menu::create(std::string title, std::string className,
                                   AppNotificationCenter* center) {
  std::shared_ptr<Menu> menu(new Menu());
  menu->title_ = std::move(title);
  menu->className_ = std::move(className);
  menu->center_ = center;
  return menu;
}

void Menu::addItem(std::shared_ptr<MenuItem> item) {
  if (!item) return;
  item->menu_ = weak_from_this();
  items_.push_back(std::move(item));
  if (center_) {
    ValueMap info;
    info.set("NSMenuItemIndex", numberOfItems() - 1);
    center_->postNotification({kMenuDidAddItemNotification, shared_from_this(), std::move(info)});
  }
}

int64_t Menu::indexOfItem(const MenuItem& item) const {
  for (size_t i = 0; i < items_.size(); ++i) {
    if (items_[i].get() == &item) return static_cast<int64_t>(i);
  }
  return -1;
}

void Menu::cancelTrackingWithoutAnimation() {
  tracking_ = false;
  ++cancellations_;
  for (auto& item : items_) item->setHighlighted(false);
}

void Menu::performActionForItemAtIndex(int64_t index) {
  if (index < 0 || index >= numberOfItems()) return;
  MenuItem& item = *items_[static_cast<size_t>(index)];
  if (item.isEnabled() && item.action()) item.action()(item);
}

double Menu::layoutItems(double minimumWidth) {
  // Standard items: the title between the menu's margins and room for a key
  // equivalent.
  constexpr double kStandardMargins = 60;
  double width = minimumWidth;
  for (auto& item : items_) {
    if (item->view()) {
      width = std::max(width, item->view()->frame().width);
    } else {
      const Size s = AttributedString{item->title(), Font::menuFontOfSize(0), labelColor()}.size();
      width = std::max(width, s.width + kStandardMargins);
    }
  }
  for (auto& item : items_) {
    View* view = item->view().get();
    if (!view) continue;
    if (view->autoresizingMask() & kViewWidthSizable) {
      Rect f = view->frame();
      f.width = width;
      view->setFrame(f);
    }
    view->layoutSubtreeIfNeeded();
  }
  return width;
}

}  // namespace dravel
