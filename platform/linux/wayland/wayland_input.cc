#include "platform/linux/wayland/wayland_input.h"

#include "channels/log.h"
#include "platform/linux/wayland/wayland_screens.h"

namespace dravel::linux_platform {
namespace {

Point centre(const Rect& r) {
  return Point{r.x + r.width / 2, r.y + r.height / 2};
}

}  // namespace

WaylandInput::WaylandInput(const WaylandScreens& screens, Sources sources)
    : screens_(screens), sources_(std::move(sources)) {}

Point WaylandInput::mouseLocation() {
  if (sources_.pointerOverHost) {
    if (std::optional<PointerOverHost> over = sources_.pointerOverHost()) {
      return over->location;
    }
  }
  const DesktopLayout layout = screens_.layout();
  if (sources_.focusedOutput) {
    if (std::optional<Rect> focused = sources_.focusedOutput()) {
      // The monitor with that rectangle, else the one holding its centre.
      const Point middle = centre(*focused);
      const MonitorPixels* found = nullptr;
      for (const MonitorPixels& m : layout.monitors()) {
        const Rect r{static_cast<double>(m.x), static_cast<double>(m.y),
                     static_cast<double>(m.width), static_cast<double>(m.height)};
        if (r == *focused) {
          found = &m;
          break;
        }
        if (!found && middle.x >= r.x && middle.x < r.maxX() && middle.y >= r.y &&
            middle.y < r.maxY()) {
          found = &m;
        }
      }
      if (found) {
        return centre(layout.frame(*found));
      }
    }
  }
  const MonitorPixels* primary = layout.primary();
  return primary ? centre(layout.frame(*primary)) : Point{0, 0};
}

uint64_t WaylandInput::pressedMouseButtons() {
  if (!sources_.pointerOverHost) return 0;
  std::optional<PointerOverHost> over = sources_.pointerOverHost();
  return over ? over->buttons : 0;
}

void WaylandInput::setCursorHiddenUntilMouseMoves(bool hidden) {
  if (!hidden || loggedHiding_) return;
  loggedHiding_ = true;
  NSLog("[input] Wayland lets no client hide the pointer: it stays shown during the overlay");
}

}  // namespace dravel::linux_platform
