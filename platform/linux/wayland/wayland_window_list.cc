#include "platform/linux/wayland/wayland_window_list.h"

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

ValueMap windowEntry(int64_t number, int64_t pid, std::string_view owner, std::string_view title,
                     const Rect& bounds) {
  ValueMap entry;
  entry.set(kCGWindowLayer, Value(int64_t{0}));
  entry.set(kCGWindowNumber, Value(number));
  entry.set(kCGWindowOwnerPID, Value(pid));
  if (!owner.empty()) entry.set(kCGWindowOwnerName, Value(boundedName(owner)));
  entry.set(kCGWindowName, Value(boundedName(title)));
  entry.set(kCGWindowBounds, Value(ValueMap{{"X", Value(bounds.x)},
                                            {"Y", Value(bounds.y)},
                                            {"Width", Value(bounds.width)},
                                            {"Height", Value(bounds.height)}}));
  return entry;
}

}  // namespace

ValueMap kwinWindowEntry(const KWinActiveWindow& w, const DesktopLayout& layout) {
  // KWin's frame is in logical pixels of the same space as the layout's.
  return windowEntry(kwinWindowNumber(w.internalId), w.pid, w.resourceClass, w.caption,
                     layout.topLeftBoundsFromRoot(w.x, w.y, w.width, w.height));
}

ValueList swayWindowEntries(const std::vector<SwayWindow>& windows, const DesktopLayout& layout) {
  ValueList entries;
  for (const SwayWindow& w : windows) {
    if (entries.size() >= kMaxWindowListEntries) break;
    const Rect bounds =
        layout.topLeftBoundsFromRoot(static_cast<double>(w.x), static_cast<double>(w.y),
                                     static_cast<double>(w.width), static_cast<double>(w.height));
    entries.push_back(Value(windowEntry(w.id, w.pid, w.owner, w.title, bounds)));
  }
  return entries;
}

std::optional<std::vector<SwayWindow>> WaylandWindowList::swayWindows() {
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

WaylandWindowList::Answer WaylandWindowList::kwinAnswer() {
  Answer answer;
  const KWinReport report = kwin_.read(std::chrono::milliseconds(500));
  if (!report.ok) {
    if (!kwinFailureLogged_) {
      kwinFailureLogged_ = true;
      NSLog("[wayland] no active window from KWin's scripting: %s", report.error.c_str());
    }
    return answer;
  }
  if (!report.window) return answer;
  answer.entries.push_back(Value(kwinWindowEntry(*report.window, layout_())));
  answer.focusedPid = static_cast<int>(report.window->pid);
  return answer;
}

const WaylandWindowList::Answer& WaylandWindowList::answer() {
  const auto now = std::chrono::steady_clock::now();
  if (answered_ && now - *answered_ < std::chrono::milliseconds(100)) return answer_;
  answer_ = Answer{};
  if (const std::optional<std::vector<SwayWindow>> sway = swayWindows()) {
    answer_.entries = swayWindowEntries(*sway, layout_());
    if (!sway->empty() && sway->front().focused &&
        sway->front().pid <= std::numeric_limits<int>::max()) {
      answer_.focusedPid = static_cast<int>(sway->front().pid);
    }
  } else {
    answer_ = kwinAnswer();
  }
  answered_ = std::chrono::steady_clock::now();
  return answer_;
}

std::optional<Value> WaylandWindowList::copyWindowInfo(uint32_t, uint32_t) {
  return Value(answer().entries);
}

std::optional<int> WaylandWindowList::focusedPid() {
  return answer().focusedPid;
}

}  // namespace dravel::linux_platform
