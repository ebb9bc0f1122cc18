// The arithmetic between a window's frame and its content, and the toolkit's
// input state as the seam's, free of any window or display.
#pragma once

#include <cstdint>

#include "platform/linux/session/screen_layout.h"
#include "platform/seam/geometry.h"

namespace dravel::linux_platform::window_geometry {

// The content rectangle (root pixels) inside an outer frame rectangle.
DesktopLayout::PixelRect contentFromOuter(const DesktopLayout::PixelRect& outer,
                                          const FrameExtents& extents);
// The outer frame rectangle (root pixels) around a content rectangle.
DesktopLayout::PixelRect outerFromContent(const DesktopLayout::PixelRect& content,
                                          const FrameExtents& extents);
// A point inside the content (pixels from the content's top-left corner) in
// window coordinates: points from the frame's bottom-left corner.
Point windowPointFromContent(double x, double y, int64_t contentHeight, const FrameExtents& extents,
                             int scale);
// The content area in window coordinates.
Rect contentFrameInWindow(int64_t contentWidth, int64_t contentHeight, const FrameExtents& extents,
                          int scale);
// The toolkit's modifier state as the host's modifier flags (caps lock,
// shift, control, alt, super in the usual bits 16..20).
uint64_t modifierFlagsFromState(unsigned int state);
// The seam's event type for a button (1 left, 2 middle, 3 right) going down
// or up.
int buttonEventType(unsigned int button, bool down);
// The seam's event type for a motion with the given button state.
int motionEventType(unsigned int state);

}  // namespace dravel::linux_platform::window_geometry
