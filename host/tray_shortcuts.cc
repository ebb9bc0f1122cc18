#include "host/tray_shortcuts.h"

#include <string_view>

#include "host/badged_menu_item_view.h"
#include "platform/shared/menu.h"
#include "platform/seam/platform.h"

namespace dravel {
namespace {

uint64_t maskForModifier(const std::string& name) {
  if (name == "control") return TrayShortcuts::kControlMask;
  if (name == "shift") return TrayShortcuts::kShiftMask;
  if (name == "alt") return TrayShortcuts::kOptionMask;
  if (name == "meta") return TrayShortcuts::kCommandMask;
  return 0;
}

// The "modifiers" list when every element is a string, else none at all.
std::vector<std::string> modifierNames(const ValueMap& item) {
  std::vector<std::string> names;
  const Value* v = item.find("modifiers");
  const ValueList* list = v ? v->asList() : nullptr;
  if (!list) return names;
  for (const Value& e : *list) {
    const std::string* s = e.asString();
    if (!s) return {};
    names.push_back(*s);
  }
  return names;
}

// The class's own name: a runtime that qualifies class names with their
// module ("tray_manager.TrayMenu") still names the same class.
std::string_view bareClassName(std::string_view name) {
  const size_t dot = name.rfind('.');
  return dot == std::string_view::npos ? name : name.substr(dot + 1);
}

}  // namespace

std::shared_ptr<TrayShortcuts>& TrayShortcuts::instance() {
  // Made on first use and never released.
  static auto* const holder = new std::shared_ptr<TrayShortcuts>(new TrayShortcuts());
  return *holder;
}

TrayShortcuts& TrayShortcuts::shared() {
  return *instance();
}

void TrayShortcuts::update(const std::vector<ValueMap>& items,
                           const std::map<std::string, std::string>& badges,
                           const std::map<std::string, std::string>& hints) {
  badges_ = badges;
  hints_ = hints;

  std::map<std::string, Shortcut> table;
  for (const ValueMap& item : items) {
    const Value* label = item.find("label");
    if (!label || !label->asString()) continue;
    const Value* key = item.find("key");
    if (!key || !key->asString() || key->asString()->empty()) continue;
    uint64_t mask = 0;
    for (const std::string& name : modifierNames(item)) mask |= maskForModifier(name);
    table[*label->asString()] = Shortcut{*key->asString(), mask};
  }
  byLabel_ = std::move(table);

  if (!observer_) {
    std::weak_ptr<TrayShortcuts> weak = instance();
    observer_ = platform().appNotificationCenter().addObserverForName(
        kMenuDidAddItemNotification, nullptr, [weak](const AppNotification& notification) {
          if (auto self = weak.lock()) self->didAddItem(notification);
        });
  }
}

void TrayShortcuts::didAddItem(const AppNotification& notification) {
  auto* menu = dynamic_cast<Menu*>(notification.object.get());
  if (!menu) return;
  if (bareClassName(menu->className()) != "TrayMenu") return;

  if (!notification.userInfo) return;
  const Value* indexValue = notification.userInfo->find("NSMenuItemIndex");
  if (!indexValue) return;
  const std::optional<int64_t> index = indexValue->asInt();
  if (!index || *index < 0) return;
  if (*index >= menu->numberOfItems()) return;
  const std::shared_ptr<MenuItem> item = menu->itemArray()[static_cast<size_t>(*index)];

  if (auto s = byLabel_.find(item->title()); s != byLabel_.end()) {
    item->setKeyEquivalent(s->second.key);
    item->setKeyEquivalentModifierMask(s->second.mask);
  }

  const std::string title = item->title();
  if (auto b = badges_.find(title); b != badges_.end()) {
    item->setView(std::make_shared<BadgedMenuItemView>(title, b->second, std::nullopt));
    return;
  }
  if (auto h = hints_.find(title); h != hints_.end()) {
    item->setView(std::make_shared<BadgedMenuItemView>(title, std::nullopt, h->second));
  }
}

void TrayShortcuts::resetForTesting() {
  TrayShortcuts& self = shared();
  self.byLabel_.clear();
  self.badges_.clear();
  self.hints_.clear();
  self.observer_.reset();
}

}  // namespace dravel
