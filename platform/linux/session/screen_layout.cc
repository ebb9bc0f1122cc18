#include "platform/linux/session/screen_layout.h"

#include <cmath>
#include <cstdlib>


namespace dravel::linux_platform {

DesktopLayout::DesktopLayout(std::vector<MonitorPixels> monitors, int scale)
    : scale_(scale < 1 ? 1 : scale) {
  size_t primaryIndex = monitors.size();
  for (size_t i = 0; i < monitors.size() && primaryIndex == monitors.size(); ++i) {
    if (monitors[i].primary) primaryIndex = i;
  }
  for (size_t i = 0; i < monitors.size() && primaryIndex == monitors.size(); ++i) {
    const MonitorPixels& m = monitors[i];
    if (m.x <= 0 && m.y <= 0 && m.x + m.width > 0 && m.y + m.height > 0) primaryIndex = i;
  }
  if (primaryIndex == monitors.size()) primaryIndex = 0;
  if (!monitors.empty()) {
    monitors_.reserve(monitors.size());
    monitors_.push_back(monitors[primaryIndex]);
    for (size_t i = 0; i < monitors.size(); ++i) {
      if (i != primaryIndex) monitors_.push_back(monitors[i]);
    }
  }
}

const MonitorPixels* DesktopLayout::find(uint32_t displayID) const {
  for (const MonitorPixels& m : monitors_) {
    if (m.displayID == displayID) return &m;
  }
  return nullptr;
}

Rect DesktopLayout::frame(const MonitorPixels& m) const {
  const MonitorPixels* p = primary();
  const double px = p ? static_cast<double>(p->x) : 0.0;
  const double pBottom = p ? static_cast<double>(p->y + p->height) : 0.0;
  const double s = scale_;
  return Rect{(static_cast<double>(m.x) - px) / s,
              (pBottom - static_cast<double>(m.y + m.height)) / s, static_cast<double>(m.width) / s,
              static_cast<double>(m.height) / s};
}

Point DesktopLayout::pointFromRoot(double rootX, double rootY) const {
  const MonitorPixels* p = primary();
  const double px = p ? static_cast<double>(p->x) : 0.0;
  const double pBottom = p ? static_cast<double>(p->y + p->height) : 0.0;
  return Point{(rootX - px) / scale_, (pBottom - rootY) / scale_};
}

Rect DesktopLayout::topLeftBoundsFromRoot(double x, double y, double width, double height) const {
  const MonitorPixels* p = primary();
  const double px = p ? static_cast<double>(p->x) : 0.0;
  const double py = p ? static_cast<double>(p->y) : 0.0;
  const double s = scale_;
  return Rect{(x - px) / s, (y - py) / s, width / s, height / s};
}

DesktopLayout::PixelRect DesktopLayout::rootRectFromFrame(const Rect& f) const {
  const MonitorPixels* p = primary();
  const double px = p ? static_cast<double>(p->x) : 0.0;
  const double pBottom = p ? static_cast<double>(p->y + p->height) : 0.0;
  const double s = scale_;
  PixelRect r;
  r.x = std::llround(f.x * s + px);
  r.width = std::llround(f.width * s);
  r.height = std::llround(f.height * s);
  r.y = std::llround(pBottom - (f.y + f.height) * s);
  return r;
}

Point DesktopLayout::rootFromPoint(Point point) const {
  const MonitorPixels* p = primary();
  const double px = p ? static_cast<double>(p->x) : 0.0;
  const double pBottom = p ? static_cast<double>(p->y + p->height) : 0.0;
  return Point{point.x * scale_ + px, pBottom - point.y * scale_};
}

int scaleFromEnvironment() {
  const char* value = std::getenv("GDK_SCALE");
  if (!value || !*value) return 1;
  char* end = nullptr;
  const long scale = std::strtol(value, &end, 10);
  if (*end != '\0' || scale < 1 || scale > 16) return 1;
  return static_cast<int>(scale);
}

LinuxScreen::LinuxScreen(Rect frame, double scale, uint32_t displayID)
    : frame_(frame), scale_(scale), displayID_(displayID) {}

ValueMap LinuxScreen::deviceDescription() const {
  return ValueMap{{"NSScreenNumber", Value(static_cast<int64_t>(displayID_))}};
}

ScreenPtr screenHoldingFrame(const std::vector<ScreenPtr>& screens, const Rect& frame) {
  const Point centre{frame.x + frame.width / 2, frame.y + frame.height / 2};
  for (const ScreenPtr& screen : screens) {
    if (mouseInRect(centre, screen->frame())) return screen;
  }
  for (const ScreenPtr& screen : screens) {
    if (rectsIntersect(frame, screen->frame())) return screen;
  }
  return nullptr;
}

void notifyLayoutListeners(
    const std::vector<std::pair<uint64_t, std::function<void()>>>& listeners) {
  // A listener may remove listeners: walk a copy of the ids.
  std::vector<uint64_t> ids;
  ids.reserve(listeners.size());
  for (const auto& entry : listeners) ids.push_back(entry.first);
  for (uint64_t id : ids) {
    for (const auto& [known, listener] : listeners) {
      if (known != id) continue;
      std::function<void()> call = listener;
      call();
      break;
    }
  }
}

}  // namespace dravel::linux_platform
