#include "platform/sim/sim_window_list.h"

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

ValueList SimWindowList::currentEntries() const {
  ValueList all;
  all.reserve(entries.size() + 1);
  if (auto own = mainWindowEntry()) all.emplace_back(std::move(*own));
  all.insert(all.end(), entries.begin(), entries.end());
  return all;
}

}  // namespace dravel::sim
