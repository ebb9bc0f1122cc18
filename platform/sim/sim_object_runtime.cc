#include "platform/sim/sim_object_runtime.h"

#include "platform/sim/scenario_registry.h"
#include "platform/sim/sim_desktop.h"

namespace dravel::sim {

SimObjectRuntime::SimObjectRuntime() {
  reset();
}

void SimObjectRuntime::reset() {
  classes_.clear();
  classes_[kCursorPluginClass][kCursorFromKindSelector].implementation =
      [this](const std::string&, const std::string&, const std::string& kind) {
        embeddingLookups.push_back(kind);
        return systemCursor(embeddingCursorName(kind));
      };
}

bool SimObjectRuntime::classNamed(const std::string& className) {
  return classes_.count(className) > 0;
}

std::optional<CursorFromKindImp> SimObjectRuntime::classMethodImplementation(
    const std::string& className, const std::string& selector) {
  auto c = classes_.find(className);
  if (c == classes_.end()) return std::nullopt;
  auto m = c->second.find(selector);
  if (m == c->second.end()) return std::nullopt;
  return m->second.implementation;
}

bool SimObjectRuntime::setClassMethodImplementation(const std::string& className,
                                                    const std::string& selector,
                                                    CursorFromKindImp implementation) {
  auto c = classes_.find(className);
  if (c == classes_.end()) return false;
  auto m = c->second.find(selector);
  if (m == c->second.end()) return false;
  m->second.implementation = std::move(implementation);
  m->second.replaced = true;
  return true;
}

void SimObjectRuntime::removeClass(const std::string& className) {
  classes_.erase(className);
}

void SimObjectRuntime::removeClassMethod(const std::string& className,
                                         const std::string& selector) {
  auto c = classes_.find(className);
  if (c != classes_.end()) c->second.erase(selector);
}

bool SimObjectRuntime::isReplaced(const std::string& className, const std::string& selector) const {
  auto c = classes_.find(className);
  if (c == classes_.end()) return false;
  auto m = c->second.find(selector);
  return m != c->second.end() && m->second.replaced;
}

std::shared_ptr<Cursor> SimObjectRuntime::cursorForKind(const std::string& kind) {
  auto imp = classMethodImplementation(kCursorPluginClass, kCursorFromKindSelector);
  if (!imp) return systemCursor("arrowCursor");
  return (*imp)(kCursorPluginClass, kCursorFromKindSelector, kind);
}

std::shared_ptr<Cursor> SimObjectRuntime::systemCursor(const std::string& name) {
  auto& slot = systemCursors_[name];
  if (!slot) slot = std::make_shared<Cursor>(nullptr, Point{0, 0}, name);
  return slot;
}

std::string SimObjectRuntime::embeddingCursorName(const std::string& kind) {
  static const std::map<std::string, std::string> table = {
      {"basic", "arrowCursor"},
      {"click", "pointingHandCursor"},
      {"text", "IBeamCursor"},
      {"forbidden", "operationNotAllowedCursor"},
      {"grab", "openHandCursor"},
      {"grabbing", "closedHandCursor"},
      {"precise", "crosshairCursor"},
      {"resizeLeftRight", "resizeLeftRightCursor"},
      {"resizeColumn", "resizeLeftRightCursor"},
      {"resizeLeft", "resizeLeftCursor"},
      {"resizeRight", "resizeRightCursor"},
      {"resizeUpDown", "resizeUpDownCursor"},
      {"resizeRow", "resizeUpDownCursor"},
      {"resizeUp", "resizeUpCursor"},
      {"resizeDown", "resizeDownCursor"},
      {"contextMenu", "contextualMenuCursor"},
      {"copy", "dragCopyCursor"},
      {"alias", "dragLinkCursor"},
      {"disappearing", "disappearingItemCursor"},
  };
  auto it = table.find(kind);
  return it == table.end() ? "arrowCursor" : it->second;
}

namespace {

// "cursorLookup": {"pluginClass": bool, "cursorFromKind": bool}; either false
// takes that part of the embedding away. Absent keys mean present.
std::string loadCursorLookup(const Value& value, SimDesktop* desktop) {
  if (!value.asMap()) return "cursorLookup: a map expected";
  if (!desktop) return "";
  SimObjectRuntime& runtime = desktop->objectRuntime();
  runtime.reset();
  runtime.embeddingLookups.clear();
  if (value.boolAt("cursorFromKind") == false) {
    runtime.removeClassMethod(kCursorPluginClass, kCursorFromKindSelector);
  }
  if (value.boolAt("pluginClass") == false) runtime.removeClass(kCursorPluginClass);
  return "";
}

Value cursorLookupState(SimDesktop& desktop) {
  SimObjectRuntime& runtime = desktop.objectRuntime();
  ValueMap m;
  m.set("pluginClass", runtime.classNamed(kCursorPluginClass));
  m.set("cursorFromKind",
        runtime.classMethodImplementation(kCursorPluginClass, kCursorFromKindSelector).has_value());
  m.set("replaced", runtime.isReplaced(kCursorPluginClass, kCursorFromKindSelector));
  ValueList lookups;
  for (auto& k : runtime.embeddingLookups) lookups.push_back(k);
  m.set("embeddingLookups", std::move(lookups));
  return m;
}

Value describeCursor(const std::shared_ptr<Cursor>& cursor) {
  if (!cursor) return Value();
  ValueMap m;
  m.set("name", cursor->name().empty() ? Value() : Value(cursor->name()));
  m.set("hotSpot", ValueList{cursor->hotSpot().x, cursor->hotSpot().y});
  if (cursor->image()) {
    m.set("size", ValueList{cursor->image()->size().width, cursor->image()->size().height});
  }
  return m;
}

const SectionRegistrar kCursorLookupSection{
    checkedSection("cursorLookup", loadCursorLookup, cursorLookupState)};

// "cursorForKind" {"kind": string}: the interface asks the embedding for a
// cursor; answers the cursor's name (null for a drawn one), hot spot and size.
const ActionRegistrar kCursorForKindAction{
    {"cursorForKind", [](const Value& args, SimDesktop& desktop, FlutterResult result) {
       auto kind = args.stringAt("kind");
       if (!kind) {
         result(FlutterError::errorWithCode("bad_args", "kind expected"));
         return;
       }
       result(describeCursor(desktop.objectRuntime().cursorForKind(*kind)));
     }}};

}  // namespace

}  // namespace dravel::sim
