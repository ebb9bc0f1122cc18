#include "platform/sim/sim_window_list.h"

#include <algorithm>

#include "channels/utf8.h"
#include "platform/sim/sim_desktop.h"

namespace dravel::sim {

std::optional<ValueMap> SimWindowList::mainWindowEntry() const {
  if (!desktop) return std::nullopt;
  SimWindow* window = desktop->mainWindow();
  if (!window || !window->isVisible()) return std::nullopt;
  // Bounds are in global top-left space: flipped at the primary screen's top.
  const auto& screens = desktop->screens().list;
  const double primaryTop = screens.empty() ? 0.0 : screens.front()->frame().maxY();
  const Rect frame = window->frame();
  ValueMap bounds{{"X", frame.x},
                  {"Y", primaryTop - frame.maxY()},
                  {"Width", frame.width},
                  {"Height", frame.height}};
  return ValueMap{{kCGWindowLayer, Value(static_cast<int64_t>(window->level()))},
                  {kCGWindowNumber, Value(static_cast<int64_t>(window->windowNumber()))},
                  {kCGWindowOwnerPID, desktop->processInfo().pid},
                  {kCGWindowOwnerName, "Dravel"},
                  {kCGWindowName, "Dravel"},
                  {kCGWindowAlpha, window->alphaValue()},
                  {kCGWindowBounds, Value(std::move(bounds))}};
}

namespace {

// An entry as read, with its names cut to the bound. Anything that is not a
// map is passed on as it is.
Value boundedEntry(const Value& entry) {
  const ValueMap* map = entry.asMap();
  if (!map) return entry;
  ValueMap bounded;
  for (const auto& [key, value] : map->entries()) {
    const std::string* name = key.asString();
    const std::string* text = value.asString();
    if (name && text && (*name == kCGWindowName || *name == kCGWindowOwnerName) &&
        text->size() > kMaxWindowTitleBytes) {
      bounded.append(key, Value(std::string(truncateUtf8(*text, kMaxWindowTitleBytes))));
    } else {
      bounded.append(key, value);
    }
  }
  return Value(std::move(bounded));
}

}  // namespace

ValueList SimWindowList::currentEntries() const {
  ValueList all;
  all.reserve(std::min(entries.size() + 1, kMaxWindowListEntries));
  if (auto own = mainWindowEntry()) all.emplace_back(std::move(*own));
  for (const Value& entry : entries) {
    if (all.size() >= kMaxWindowListEntries) break;
    all.push_back(boundedEntry(entry));
  }
  return all;
}

}  // namespace dravel::sim
