#include "platform/sim/sim_tray.h"

#include "platform/sim/scenario_registry.h"
#include "platform/sim/sim_desktop.h"

namespace dravel::sim {
namespace {

std::shared_ptr<Menu> build(const Value& description, AppNotificationCenter& center,
                            std::vector<std::string>& performed, std::string& error) {
  if (!description.asMap()) {
    error = "a menu map expected";
    return nullptr;
  }
  const Value* labels = description.at("labels");
  if (!labels || !labels->asList()) {
    error = "\"labels\" list expected";
    return nullptr;
  }
  auto menu = Menu::create("", description.stringAt("className").value_or("TrayMenu"), &center);
  for (const Value& entry : *labels->asList()) {
    std::string label;
    bool enabled = true;
    std::shared_ptr<Menu> submenu;
    if (auto* s = entry.asString()) {
      label = *s;
    } else if (auto l = entry.stringAt("label")) {
      label = *l;
      enabled = entry.boolAt("enabled").value_or(true);
      if (const Value* sub = entry.at("submenu")) {
        submenu = build(*sub, center, performed, error);
        if (!submenu) return nullptr;
      }
    } else {
      error = "a label or {\"label\": ...} expected";
      return nullptr;
    }
    auto item = MenuItem::create(
        label, [&performed](MenuItem& sender) { performed.push_back(sender.title()); });
    item->setEnabled(enabled);
    if (submenu) item->setSubmenu(std::move(submenu));
    menu->addItem(std::move(item));
  }
  return menu;
}

}  // namespace

std::shared_ptr<Menu> SimTray::buildMenu(const Value& description, std::string* error) {
  std::string problem;
  auto menu = build(description, center_, performed, problem);
  if (!menu) {
    if (error) *error = problem;
    return nullptr;
  }
  menu->layoutItems();
  menu->setTracking(true);
  menus.push_back(menu);
  return menu;
}

bool SimTray::releaseMouseOnItem(Menu& menu, int64_t index) {
  if (index < 0 || index >= menu.numberOfItems()) return false;
  MenuItem& item = *menu.itemArray()[static_cast<size_t>(index)];
  if (item.isEnabled()) item.setHighlighted(true);
  if (item.view()) {
    MouseEvent event;
    event.type = kLeftMouseUp;
    event.clickCount = 1;
    item.view()->mouseUp(event);
    return true;
  }
  if (!item.isEnabled()) return true;
  menu.cancelTrackingWithoutAnimation();
  menu.performActionForItemAtIndex(index);
  return true;
}

Value SimTray::describeMenu(const Menu& menu) {
  ValueMap m;
  m.set("className", menu.className());
  m.set("tracking", menu.isTracking());
  ValueList items;
  for (const auto& item : menu.itemArray()) {
    ValueMap i;
    i.set("title", item->title());
    i.set("keyEquivalent", item->keyEquivalent());
    i.set("modifierMask", static_cast<int64_t>(item->keyEquivalentModifierMask()));
    i.set("enabled", item->isEnabled());
    i.set("highlighted", item->isHighlighted());
    i.set("view", item->view() ? Value(item->view()->describe()) : Value());
    i.set("submenu", item->submenu() ? describeMenu(*item->submenu()) : Value());
    items.push_back(std::move(i));
  }
  m.set("items", std::move(items));
  return m;
}

namespace {

// What build() would refuse in a menu description, found without building
// (building announces the items).
std::string descriptionProblem(const Value& description) {
  if (!description.asMap()) return "a menu map expected";
  const Value* labels = description.at("labels");
  if (!labels || !labels->asList()) return "\"labels\" list expected";
  for (const Value& entry : *labels->asList()) {
    if (entry.asString()) continue;
    if (!entry.stringAt("label")) return "a label or {\"label\": ...} expected";
    if (const Value* sub = entry.at("submenu")) {
      if (std::string problem = descriptionProblem(*sub); !problem.empty()) return problem;
    }
  }
  return "";
}

// "trayMenus": a list of menu descriptions (see SimTray::buildMenu), built in order.
std::string loadTrayMenus(const Value& value, SimDesktop* desktop) {
  const ValueList* list = value.asList();
  if (!list) return "trayMenus: a list expected";
  for (const Value& description : *list) {
    if (std::string problem = descriptionProblem(description); !problem.empty()) {
      return "trayMenus: " + problem;
    }
  }
  if (!desktop) return "";
  desktop->tray().menus.clear();
  desktop->tray().performed.clear();
  for (const Value& description : *list) {
    std::string error;
    if (!desktop->tray().buildMenu(description, &error)) return "trayMenus: " + error;
  }
  return "";
}

Value trayMenusState(SimDesktop& desktop) {
  ValueList menus;
  for (auto& menu : desktop.tray().menus) menus.push_back(SimTray::describeMenu(*menu));
  return menus;
}

Value trayPerformedState(SimDesktop& desktop) {
  ValueList titles;
  for (auto& t : desktop.tray().performed) titles.push_back(t);
  return titles;
}

const SectionRegistrar kTrayMenusSection{
    checkedSection("trayMenus", loadTrayMenus, trayMenusState, 150)};
// Titles of tray items whose action ran (state only).
const SectionRegistrar kTrayPerformedSection{checkedSection(
    "trayPerformed", [](const Value&, SimDesktop*) { return std::string(); }, trayPerformedState,
    150)};

// "buildTrayMenu" {"labels": [...], "className": "TrayMenu"}: the tray plugin
// builds a menu; answers its index and the menu as built.
const ActionRegistrar kBuildTrayMenuAction{
    {"buildTrayMenu", [](const Value& args, SimDesktop& desktop, FlutterResult result) {
       std::string error;
       auto menu = desktop.tray().buildMenu(args, &error);
       if (!menu) {
         result(FlutterError::errorWithCode("bad_args", error));
         return;
       }
       ValueMap reply;
       reply.set("menu", static_cast<int64_t>(desktop.tray().menus.size() - 1));
       reply.set("state", SimTray::describeMenu(*menu));
       result(Value(std::move(reply)));
     }}};

// "clickTrayItem" {"menu": index (default the newest), "item": index}: the
// user releases the mouse over that item.
const ActionRegistrar kClickTrayItemAction{
    {"clickTrayItem", [](const Value& args, SimDesktop& desktop, FlutterResult result) {
       auto& menus = desktop.tray().menus;
       const int64_t m = args.intAt("menu").value_or(static_cast<int64_t>(menus.size()) - 1);
       const auto i = args.intAt("item");
       if (m < 0 || m >= static_cast<int64_t>(menus.size()) || !i ||
           !desktop.tray().releaseMouseOnItem(*menus[static_cast<size_t>(m)], *i)) {
         result(FlutterError::errorWithCode("bad_args", "no such tray item"));
         return;
       }
       result(nullptr);
     }}};

}  // namespace

}  // namespace dravel::sim
