#include "platform/linux/desktop_layout.h"

#include <X11/Xatom.h>
#include <X11/extensions/Xrandr.h>

#include <cmath>
#include <cstdlib>

#include "platform/linux/x_connection.h"

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

std::vector<MonitorPixels> readMonitors(XConnection& connection) {
  Display* display = connection.display();
  const Window root = connection.root();
  std::vector<MonitorPixels> result;
  XErrorTrap trap(display);
  if (connection.extensions().randr) {
    int count = 0;
    XRRMonitorInfo* monitors = XRRGetMonitors(display, root, True, &count);
    for (int i = 0; monitors && i < count; ++i) {
      const XRRMonitorInfo& info = monitors[i];
      if (info.width <= 0 || info.height <= 0) continue;
      MonitorPixels m;
      if (info.name != None) {
        if (char* name = XGetAtomName(display, info.name)) {
          m.name = name;
          XFree(name);
        }
      }
      m.x = info.x;
      m.y = info.y;
      m.width = info.width;
      m.height = info.height;
      m.primary = info.primary != 0;
      if (info.noutput > 0 && info.outputs && info.outputs[0] != None) {
        m.displayID = static_cast<uint32_t>(info.outputs[0]) & ~kNamedMonitorIdTag;
      } else {
        m.displayID = (static_cast<uint32_t>(info.name) & ~kNamedMonitorIdTag) | kNamedMonitorIdTag;
      }
      if (m.displayID == 0) m.displayID = kNamedMonitorIdTag | static_cast<uint32_t>(i + 1);
      result.push_back(std::move(m));
    }
    if (monitors) XRRFreeMonitors(monitors);
  }
  if (result.empty() && connection.extensions().randrMajor >= 1 &&
      (connection.extensions().randrMajor > 1 || connection.extensions().randrMinor >= 2)) {
    // Older servers: one monitor per active CRTC.
    if (XRRScreenResources* resources = XRRGetScreenResourcesCurrent(display, root)) {
      const RROutput primaryOutput = XRRGetOutputPrimary(display, root);
      for (int i = 0; i < resources->ncrtc; ++i) {
        XRRCrtcInfo* crtc = XRRGetCrtcInfo(display, resources, resources->crtcs[i]);
        if (!crtc) continue;
        if (crtc->mode != None && crtc->noutput > 0 && crtc->width > 0 && crtc->height > 0) {
          MonitorPixels m;
          m.x = crtc->x;
          m.y = crtc->y;
          m.width = crtc->width;
          m.height = crtc->height;
          m.displayID = static_cast<uint32_t>(crtc->outputs[0]) & ~kNamedMonitorIdTag;
          for (int o = 0; o < crtc->noutput; ++o) {
            if (crtc->outputs[o] == primaryOutput) m.primary = true;
          }
          if (XRROutputInfo* output = XRRGetOutputInfo(display, resources, crtc->outputs[0])) {
            m.name.assign(output->name, static_cast<size_t>(output->nameLen));
            XRRFreeOutputInfo(output);
          }
          if (m.displayID != 0) result.push_back(std::move(m));
        }
        XRRFreeCrtcInfo(crtc);
      }
      XRRFreeScreenResources(resources);
    }
  }
  if (trap.sync()) result.clear();
  if (result.empty()) {
    // No RandR (or it failed): the whole root window, with its own id.
    MonitorPixels m;
    m.name = "screen";
    const int screen = DefaultScreen(display);
    m.width = DisplayWidth(display, screen);
    m.height = DisplayHeight(display, screen);
    m.primary = true;
    m.displayID = static_cast<uint32_t>(root) & ~kNamedMonitorIdTag;
    if (m.displayID == 0) m.displayID = 1;
    result.push_back(std::move(m));
  }
  return result;
}

int scaleFromEnvironment() {
  const char* value = std::getenv("GDK_SCALE");
  if (!value || !*value) return 1;
  char* end = nullptr;
  const long scale = std::strtol(value, &end, 10);
  if (*end != '\0' || scale < 1 || scale > 16) return 1;
  return static_cast<int>(scale);
}

}  // namespace dravel::linux_platform
