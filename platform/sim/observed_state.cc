// State-only sections: "mainWindow", "clipboard", "revealed", "opened".
#include "platform/sim/observed_state.h"

#include "platform/sim/scenario_registry.h"
#include "platform/sim/sim_desktop.h"

namespace dravel::sim {

Value rectValue(const Rect& rect) {
  return Value(ValueList{Value(rect.x), Value(rect.y), Value(rect.width), Value(rect.height)});
}

Value colorValue(const Color& color) {
  ValueMap map;
  map.set("red", Value(color.red));
  map.set("green", Value(color.green));
  map.set("blue", Value(color.blue));
  map.set("alpha", Value(color.alpha));
  map.set("name", color.name.empty() ? Value() : Value(color.name));
  return Value(std::move(map));
}

ValueMap windowState(const SimWindow& window) {
  ValueMap state;
  state.set("frame", rectValue(window.frame()));
  state.set("styleMask", Value(static_cast<int64_t>(window.styleMask())));
  state.set("level", Value(static_cast<int64_t>(window.level())));
  state.set("collectionBehavior", Value(static_cast<int64_t>(window.collectionBehavior())));
  state.set("hasShadow", Value(window.hasShadow()));
  state.set("movable", Value(window.isMovable()));
  state.set("opaque", Value(window.isOpaque()));
  state.set("backgroundColor", colorValue(window.backgroundColor()));
  state.set("alpha", Value(window.alphaValue()));
  state.set("visible", Value(window.isVisible()));
  state.set("key", Value(window.isKey()));
  state.set("miniaturized", Value(window.isMiniaturized()));
  state.set("windowNumber", Value(static_cast<int64_t>(window.windowNumber())));
  return state;
}

namespace {

Value mainWindowState(SimDesktop& desktop) {
  const SimWindow* window = desktop.mainWindow();
  return window ? Value(windowState(*window)) : Value();
}

// {"changeCount": n, "items": [{type: bytes, ...}, ...]}
Value clipboardState(SimDesktop& desktop) {
  ValueList items;
  for (const PasteboardItem& item : desktop.pasteboard().items()) {
    ValueMap entry;
    for (const auto& [type, data] : item.representations) entry.set(type, Value(data));
    items.push_back(Value(std::move(entry)));
  }
  ValueMap state;
  state.set("changeCount", Value(static_cast<int64_t>(desktop.pasteboard().changeCount)));
  state.set("items", Value(std::move(items)));
  return Value(std::move(state));
}

Value stringList(const std::vector<std::string>& strings) {
  ValueList list;
  for (const std::string& s : strings) list.push_back(Value(s));
  return Value(std::move(list));
}

// One entry per file-viewer request: the addresses it selected.
Value revealedState(SimDesktop& desktop) {
  ValueList list;
  for (const auto& urls : desktop.workspace().revealed) list.push_back(stringList(urls));
  return Value(std::move(list));
}

Value openedState(SimDesktop& desktop) {
  return stringList(desktop.workspace().opened);
}

const SectionRegistrar mainWindowSection{{"mainWindow", nullptr, mainWindowState, 100}};
const SectionRegistrar clipboardSection{{"clipboard", nullptr, clipboardState, 100}};
const SectionRegistrar revealedSection{{"revealed", nullptr, revealedState, 100}};
const SectionRegistrar openedSection{{"opened", nullptr, openedState, 100}};

}  // namespace
}  // namespace dravel::sim
