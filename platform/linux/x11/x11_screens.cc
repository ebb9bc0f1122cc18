#include "platform/linux/x11/x11_screens.h"

#include <X11/Xatom.h>
#include <X11/Xlib.h>
#include <X11/extensions/Xrandr.h>

#include "platform/linux/x11/x11_connection.h"

namespace dravel::linux_platform {

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

X11Screens::X11Screens(XConnection& connection, std::function<int()> scaleSource)
    : connection_(connection), scaleSource_(std::move(scaleSource)) {
  Display* display = connection_.display();
  const Window root = connection_.root();
  const XExtensions& extensions = connection_.extensions();
  const bool randrEvents =
      extensions.randrMajor > 1 || (extensions.randrMajor == 1 && extensions.randrMinor >= 2);
  {
    XErrorTrap trap(display);
    // Other services may select root events on this connection too: add to
    // their mask rather than replace it.
    XWindowAttributes attributes;
    if (XGetWindowAttributes(display, root, &attributes)) {
      XSelectInput(display, root, attributes.your_event_mask | StructureNotifyMask);
    }
    if (randrEvents) {
      XRRSelectInput(display, root,
                     RRScreenChangeNotifyMask | RRCrtcChangeNotifyMask | RROutputChangeNotifyMask);
    }
    trap.sync();
  }
  eventListener_ = connection_.addEventListener([this, randrEvents](const XEvent& event) {
    const int base = connection_.extensions().randrEventBase;
    bool changed = false;
    if (randrEvents && event.type == base + RRScreenChangeNotify) {
      XRRUpdateConfiguration(const_cast<XEvent*>(&event));
      changed = true;
    } else if (randrEvents && event.type == base + RRNotify) {
      changed = true;
    } else if (event.type == ConfigureNotify && event.xconfigure.window == connection_.root()) {
      if (randrEvents) XRRUpdateConfiguration(const_cast<XEvent*>(&event));
      changed = true;
    }
    if (changed) refresh();
  });
  monitors_ = readMonitors(connection_);
}

X11Screens::~X11Screens() {
  connection_.removeEventListener(eventListener_);
}

int X11Screens::scale() const {
  const int value = scaleSource_ ? scaleSource_() : 1;
  return value < 1 ? 1 : value;
}

DesktopLayout X11Screens::layout() const {
  return DesktopLayout(monitors_, scale());
}

std::vector<ScreenPtr> X11Screens::screens() {
  const DesktopLayout current = layout();
  std::vector<ScreenPtr> result;
  result.reserve(current.monitors().size());
  for (const MonitorPixels& monitor : current.monitors()) {
    result.push_back(std::make_shared<LinuxScreen>(
        current.frame(monitor), static_cast<double>(current.scale()), monitor.displayID));
  }
  return result;
}

ScreenPtr X11Screens::mainScreen() {
  if (!keyWindowFrame_) return nullptr;
  const std::optional<Rect> frame = keyWindowFrame_();
  return frame ? screenHoldingFrame(screens(), *frame) : nullptr;
}

void X11Screens::setKeyWindowFrameSource(std::function<std::optional<Rect>()> source) {
  keyWindowFrame_ = std::move(source);
}

void X11Screens::refresh() {
  std::vector<MonitorPixels> monitors = readMonitors(connection_);
  if (monitors == monitors_) return;
  monitors_ = std::move(monitors);
  notifyLayoutListeners(listeners_);
}

uint64_t X11Screens::addLayoutListener(std::function<void()> listener) {
  const uint64_t id = nextListener_++;
  listeners_.emplace_back(id, std::move(listener));
  return id;
}

void X11Screens::removeLayoutListener(uint64_t id) {
  std::erase_if(listeners_, [id](const auto& entry) { return entry.first == id; });
}

}  // namespace dravel::linux_platform
