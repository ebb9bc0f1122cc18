#include "platform/linux/wayland_window_list.h"

#include <cstdlib>
#include <limits>
#include <string>

#include "channels/log.h"
#include "channels/utf8.h"

namespace dravel::linux_platform {
namespace {

std::string boundedName(std::string_view text) {
  return std::string(truncateUtf8(validUtf8(text), kMaxWindowTitleBytes));
}

}  // namespace

ValueList swayWindowEntries(const std::vector<SwayWindow>& windows, const DesktopLayout& layout) {
  ValueList entries;
  for (const SwayWindow& w : windows) {
    if (entries.size() >= kMaxWindowListEntries) break;
    const Rect bounds =
        layout.topLeftBoundsFromRoot(static_cast<double>(w.x), static_cast<double>(w.y),
                                     static_cast<double>(w.width), static_cast<double>(w.height));
    ValueMap entry;
    entry.set(kCGWindowLayer, Value(int64_t{0}));
    entry.set(kCGWindowNumber, Value(w.id));
    entry.set(kCGWindowOwnerPID, Value(w.pid));
    if (!w.owner.empty()) entry.set(kCGWindowOwnerName, Value(boundedName(w.owner)));
    entry.set(kCGWindowName, Value(boundedName(w.title)));
    entry.set(kCGWindowBounds, Value(ValueMap{{"X", Value(bounds.x)},
                                              {"Y", Value(bounds.y)},
                                              {"Width", Value(bounds.width)},
                                              {"Height", Value(bounds.height)}}));
    entries.push_back(Value(std::move(entry)));
  }
  return entries;
}

std::optional<std::vector<SwayWindow>> WaylandWindowList::windows() {
  // No sway here: nothing to ask, nothing to say.
  const char* socket = std::getenv("SWAYSOCK");
  if (!socket || !*socket) return std::nullopt;
  std::string why;
  std::optional<std::vector<SwayWindow>> found =
      visibleWindows(std::chrono::milliseconds(200), &why);
  if (!found && !failureLogged_) {
    failureLogged_ = true;
    NSLog("[wayland] no window list from sway's IPC: %s", why.c_str());
  }
  return found;
}

std::optional<Value> WaylandWindowList::copyWindowInfo(uint32_t, uint32_t) {
  const std::optional<std::vector<SwayWindow>> found = windows();
  if (!found) return Value(ValueList{});
  return Value(swayWindowEntries(*found, layout_()));
}

std::optional<int> WaylandWindowList::focusedPid() {
  const std::optional<std::vector<SwayWindow>> found = windows();
  if (!found || found->empty() || !found->front().focused ||
      found->front().pid > std::numeric_limits<int>::max()) {
    return std::nullopt;
  }
  return static_cast<int>(found->front().pid);
}

}  // namespace dravel::linux_platform
