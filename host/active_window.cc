// Active window detection: the frontmost ordinary window of the application
// the user works in, or the whole screen that application fills, placed on
// its screen in that screen's top-left space.
#include <algorithm>
#include <cmath>
#include <limits>
#include <vector>

#include "host/capture_handler.h"
#include "host/displays.h"
#include "platform/seam/platform.h"

namespace dravel {
namespace {

// Windows smaller than this in either direction are never chosen.
constexpr double kMinimumWindowSide = 40.0;
// Tolerance of the whole-screen match, in points.
constexpr double kScreenMatchTolerance = 1.0;

// Window-list numbers are read as the platform's number objects read: an
// integer also reads as a double, and a double reads as an integer when it
// holds one exactly. Anything else is absent.
std::optional<double> doubleAt(const ValueMap& map, const char* key) {
  const Value* v = map.find(key);
  if (!v) return std::nullopt;
  if (auto d = v->asDouble()) return d;
  if (auto i = v->asInt()) return static_cast<double>(*i);
  return std::nullopt;
}

std::optional<int64_t> intAt(const ValueMap& map, const char* key) {
  const Value* v = map.find(key);
  if (!v) return std::nullopt;
  if (auto i = v->asInt()) return i;
  if (auto d = v->asDouble()) {
    if (std::trunc(*d) == *d && *d >= -9.2e18 && *d <= 9.2e18) return static_cast<int64_t>(*d);
  }
  return std::nullopt;
}

const ValueMap* boundsMap(const ValueMap& entry) {
  const Value* v = entry.find(kCGWindowBounds);
  return v ? v->asMap() : nullptr;
}

// The owner's process id, when it is a 32-bit integer.
std::optional<int32_t> ownerPid(const ValueMap& entry) {
  std::optional<int64_t> pid = intAt(entry, kCGWindowOwnerPID);
  if (!pid || *pid < std::numeric_limits<int32_t>::min() ||
      *pid > std::numeric_limits<int32_t>::max()) {
    return std::nullopt;
  }
  return static_cast<int32_t>(*pid);
}

// The window rectangle in global top-left space, when all four values are there.
std::optional<Rect> bounds(const ValueMap& entry) {
  const ValueMap* b = boundsMap(entry);
  if (!b) return std::nullopt;
  auto x = doubleAt(*b, "X"), y = doubleAt(*b, "Y");
  auto w = doubleAt(*b, "Width"), h = doubleAt(*b, "Height");
  if (!x || !y || !w || !h) return std::nullopt;
  return Rect{*x, *y, *w, *h};
}

// `frontPid` is null when any owner may pass.
bool passesWindowTest(const ValueMap& entry, int ownPid, const int* frontPid) {
  std::optional<int64_t> layer = intAt(entry, kCGWindowLayer);
  if (!layer || *layer != 0) return false;
  std::optional<int32_t> pid = ownerPid(entry);
  if (!pid || *pid == ownPid) return false;
  if (std::optional<double> alpha = doubleAt(entry, kCGWindowAlpha); alpha && !(*alpha > 0)) {
    return false;
  }
  const ValueMap* b = boundsMap(entry);
  if (!b) return false;
  std::optional<double> width = doubleAt(*b, "Width"), height = doubleAt(*b, "Height");
  if (!width || !height || !(*width >= kMinimumWindowSide) || !(*height >= kMinimumWindowSide)) {
    return false;
  }
  if (frontPid && *pid != *frontPid) return false;
  return true;
}

}  // namespace

std::optional<ValueMap> CaptureHandler::activeWindow() {
  std::optional<Value> info = platform().windowList().copyWindowInfo(
      kWindowListOptionOnScreenOnly | kWindowListExcludeDesktopElements, 0);
  const ValueList* list = info ? info->asList() : nullptr;
  if (!list) return std::nullopt;
  // Only the frontmost entries count, whatever the platform hands over.
  const size_t count = std::min(list->size(), kMaxWindowListEntries);
  std::vector<const ValueMap*> entries;
  entries.reserve(count);
  for (size_t i = 0; i < count; ++i) {
    const ValueMap* map = (*list)[i].asMap();
    if (!map || !map->hasStringKeys()) return std::nullopt;
    entries.push_back(map);
  }

  const std::vector<ScreenPtr> screens = platform().screens().screens();
  if (screens.empty() || !screens.front()) return std::nullopt;
  const Rect primary = screens.front()->frame();

  const int ownPid = platform().processInfo().processIdentifier();
  std::optional<int> frontPid = platform().workspace().frontmostApplicationPid();
  if (frontPid == ownPid) frontPid.reset();

  std::vector<const ValueMap*> candidates;
  for (const ValueMap* entry : entries) {
    if (passesWindowTest(*entry, ownPid, frontPid ? &*frontPid : nullptr)) {
      candidates.push_back(entry);
    }
  }

  std::vector<Rect> screenRects;
  for (const ScreenPtr& screen : screens) {
    if (!screen) continue;
    const Rect f = screen->frame();
    screenRects.push_back({f.x, primary.maxY() - f.maxY(), f.width, f.height});
  }

  if (candidates.empty()) return std::nullopt;
  std::optional<Rect> first = bounds(*candidates.front());
  if (!first) return std::nullopt;
  Rect w = *first;

  // An application that lines a window up with a whole screen is framing
  // that screen: report the screen. Heights are not compared (a window may
  // stop short of the menu bar).
  if (std::optional<int32_t> owner = ownerPid(*candidates.front()); owner && !screenRects.empty()) {
    bool matched = false;
    for (const Rect& s : screenRects) {
      for (const ValueMap* candidate : candidates) {
        if (ownerPid(*candidate) != owner) continue;
        std::optional<Rect> b = bounds(*candidate);
        if (!b) continue;
        if (std::abs(b->x - s.x) <= kScreenMatchTolerance &&
            std::abs(b->width - s.width) <= kScreenMatchTolerance &&
            std::abs(b->y - s.y) <= kScreenMatchTolerance) {
          w = s;
          matched = true;
          break;
        }
      }
      if (matched) break;
    }
  }

  const Rect wb{w.x, primary.height - w.y - w.height, w.width, w.height};
  const Point centre{wb.x + wb.width / 2, wb.y + wb.height / 2};
  ScreenPtr chosen;
  for (const ScreenPtr& screen : screens) {
    if (screen && mouseInRect(centre, screen->frame())) {
      chosen = screen;
      break;
    }
  }
  if (!chosen) {
    for (const ScreenPtr& screen : screens) {
      if (screen && rectsIntersect(wb, screen->frame())) {
        chosen = screen;
        break;
      }
    }
  }
  if (!chosen) return std::nullopt;
  std::optional<uint32_t> id = displayID(*chosen);
  if (!id) return std::nullopt;

  const Rect frame = chosen->frame();
  ValueMap map = geometry(*chosen, *id);
  map.set("winX", Value(wb.x - frame.x));
  map.set("winY", Value(frame.maxY() - wb.maxY()));
  map.set("winW", Value(w.width));
  map.set("winH", Value(w.height));
  return map;
}

}  // namespace dravel
