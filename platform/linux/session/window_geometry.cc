#include "platform/linux/session/window_geometry.h"

#include <gdk/gdk.h>

#include <algorithm>

#include "platform/seam/input.h"

namespace dravel::linux_platform {

namespace window_geometry {

DesktopLayout::PixelRect contentFromOuter(const DesktopLayout::PixelRect& outer,
                                          const FrameExtents& e) {
  return {outer.x + e.left, outer.y + e.top, std::max<int64_t>(1, outer.width - e.left - e.right),
          std::max<int64_t>(1, outer.height - e.top - e.bottom)};
}

DesktopLayout::PixelRect outerFromContent(const DesktopLayout::PixelRect& content,
                                          const FrameExtents& e) {
  return {content.x - e.left, content.y - e.top, content.width + e.left + e.right,
          content.height + e.top + e.bottom};
}

Point windowPointFromContent(double x, double y, int64_t contentHeight, const FrameExtents& e,
                             int scale) {
  const double s = scale < 1 ? 1.0 : scale;
  return {(x + static_cast<double>(e.left)) / s,
          (static_cast<double>(contentHeight + e.bottom) - y) / s};
}

Rect contentFrameInWindow(int64_t contentWidth, int64_t contentHeight, const FrameExtents& e,
                          int scale) {
  const double s = scale < 1 ? 1.0 : scale;
  return {static_cast<double>(e.left) / s, static_cast<double>(e.bottom) / s,
          static_cast<double>(contentWidth) / s, static_cast<double>(contentHeight) / s};
}

uint64_t modifierFlagsFromState(unsigned int state) {
  uint64_t flags = 0;
  if (state & GDK_LOCK_MASK) flags |= 1u << 16;
  if (state & GDK_SHIFT_MASK) flags |= 1u << 17;
  if (state & GDK_CONTROL_MASK) flags |= 1u << 18;
  if (state & GDK_MOD1_MASK) flags |= 1u << 19;
  if (state & (GDK_SUPER_MASK | GDK_MOD4_MASK)) flags |= 1u << 20;
  return flags;
}

int buttonEventType(unsigned int button, bool down) {
  switch (button) {
    case 1:
      return down ? kLeftMouseDown : kLeftMouseUp;
    case 3:
      return down ? kRightMouseDown : kRightMouseUp;
    default:
      return down ? kOtherMouseDown : kOtherMouseUp;
  }
}

int motionEventType(unsigned int state) {
  if (state & GDK_BUTTON1_MASK) return kLeftMouseDragged;
  if (state & GDK_BUTTON3_MASK) return kRightMouseDragged;
  return kMouseMoved;
}

}  // namespace window_geometry

}  // namespace dravel::linux_platform
