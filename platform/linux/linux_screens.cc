#include "platform/linux/linux_screens.h"

#include <X11/Xlib.h>
#include <X11/extensions/Xrandr.h>

#include "platform/linux/x_connection.h"

namespace dravel::linux_platform {

LinuxScreen::LinuxScreen(Rect frame, double scale, uint32_t displayID)
    : frame_(frame), scale_(scale), displayID_(displayID) {}

ValueMap LinuxScreen::deviceDescription() const {
  return ValueMap{{"NSScreenNumber", Value(static_cast<int64_t>(displayID_))}};
}

LinuxScreens::LinuxScreens(XConnection& connection, std::function<int()> scaleSource)
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

LinuxScreens::~LinuxScreens() {
  connection_.removeEventListener(eventListener_);
}

int LinuxScreens::scale() const {
  const int value = scaleSource_ ? scaleSource_() : 1;
  return value < 1 ? 1 : value;
}

DesktopLayout LinuxScreens::layout() const {
  return DesktopLayout(monitors_, scale());
}

std::vector<ScreenPtr> LinuxScreens::screens() {
  const DesktopLayout current = layout();
  std::vector<ScreenPtr> result;
  result.reserve(current.monitors().size());
  for (const MonitorPixels& monitor : current.monitors()) {
    result.push_back(std::make_shared<LinuxScreen>(
        current.frame(monitor), static_cast<double>(current.scale()), monitor.displayID));
  }
  return result;
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

ScreenPtr LinuxScreens::mainScreen() {
  if (!keyWindowFrame_) return nullptr;
  const std::optional<Rect> frame = keyWindowFrame_();
  return frame ? screenHoldingFrame(screens(), *frame) : nullptr;
}

void LinuxScreens::setKeyWindowFrameSource(std::function<std::optional<Rect>()> source) {
  keyWindowFrame_ = std::move(source);
}

void LinuxScreens::refresh() {
  std::vector<MonitorPixels> monitors = readMonitors(connection_);
  if (monitors == monitors_) return;
  monitors_ = std::move(monitors);
  notifyLayoutListeners(listeners_);
}

uint64_t LinuxScreens::addLayoutListener(std::function<void()> listener) {
  const uint64_t id = nextListener_++;
  listeners_.emplace_back(id, std::move(listener));
  return id;
}

void LinuxScreens::removeLayoutListener(uint64_t id) {
  std::erase_if(listeners_, [id](const auto& entry) { return entry.first == id; });
}

}  // namespace dravel::linux_platform
