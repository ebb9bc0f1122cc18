// The desktop's monitors in pixels and the arithmetic between those pixels
// and the host's global coordinates, for X11 (where the pixels are the root
// window's) and Wayland (the compositor's logical layout) alike; and the
// screens made of them.
//
// X gives everything in pixels of the root window, whose origin is its
// top-left corner. The host's global space is in points with its origin at
// the bottom-left corner of the primary monitor (which is rarely the root's
// origin), y upward; the window list's bounds use the same origin at the
// primary's top-left corner, y downward. One integer scale (the toolkit's
// window scale) turns pixels into points for every monitor: X has no scale
// per monitor.
//
// With primary P and monitor M in root pixels and scale s:
//   frame(M)  = ((M.x - P.x)/s, ((P.y + P.h) - (M.y + M.h))/s, M.w/s, M.h/s)
//   point(rx, ry) = ((rx - P.x)/s, ((P.y + P.h) - ry)/s)
//   topLeftBounds(x, y, w, h) = ((x - P.x)/s, (y - P.y)/s, w/s, h/s)
#pragma once

#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "platform/seam/geometry.h"
#include "platform/seam/screens.h"

namespace dravel::linux_platform {

// Tags a display id that comes from a monitor's name atom instead of an
// output (a monitor defined without outputs has none). X ids are 29 bits
// wide, so the two kinds never collide.
inline constexpr uint32_t kNamedMonitorIdTag = 0x80000000u;

// How far a window manager's frame reaches beyond a client window on each
// side, in pixels (_NET_FRAME_EXTENTS; a client's own invisible shadow
// margins, _GTK_FRAME_EXTENTS, have the same shape).
struct FrameExtents {
  int64_t left = 0;
  int64_t right = 0;
  int64_t top = 0;
  int64_t bottom = 0;
  bool operator==(const FrameExtents&) const = default;
};

struct MonitorPixels {
  std::string name;
  // In root-window pixels.
  int64_t x = 0;
  int64_t y = 0;
  int64_t width = 0;
  int64_t height = 0;
  bool primary = false;
  // The first output's id, or the name atom with kNamedMonitorIdTag; stable
  // while the server runs. Never 0.
  uint32_t displayID = 0;
  bool operator==(const MonitorPixels&) const = default;
};

class DesktopLayout {
 public:
  DesktopLayout() = default;
  // `monitors` in any order; the primary is put first (the one marked
  // primary, else the one holding the root's (0, 0), else the first), the
  // rest keep their order. Scales below 1 count as 1.
  DesktopLayout(std::vector<MonitorPixels> monitors, int scale);

  // Primary first. Empty only when the server reported nothing usable.
  const std::vector<MonitorPixels>& monitors() const { return monitors_; }
  int scale() const { return scale_; }
  const MonitorPixels* primary() const { return monitors_.empty() ? nullptr : &monitors_.front(); }
  const MonitorPixels* find(uint32_t displayID) const;

  // Global bottom-left points of a monitor.
  Rect frame(const MonitorPixels& monitor) const;
  // A root-window pixel position in global bottom-left points.
  Point pointFromRoot(double rootX, double rootY) const;
  // A root-window pixel rectangle as global top-left points.
  Rect topLeftBoundsFromRoot(double x, double y, double width, double height) const;
  // The inverse of frame(): a global bottom-left rectangle in points as a
  // root-window pixel rectangle (rounded to whole pixels).
  struct PixelRect {
    int64_t x = 0;
    int64_t y = 0;
    int64_t width = 0;
    int64_t height = 0;
    bool operator==(const PixelRect&) const = default;
  };
  PixelRect rootRectFromFrame(const Rect& frame) const;
  // The same for a point: root-window pixels of a global bottom-left point.
  Point rootFromPoint(Point point) const;

  bool operator==(const DesktopLayout&) const = default;

 private:
  std::vector<MonitorPixels> monitors_;
  int scale_ = 1;
};

// The toolkit's window scale from the environment alone (GDK_SCALE), for
// code that runs without the toolkit; 1 when unset or not a positive whole
// number.
int scaleFromEnvironment();

class LinuxScreen : public Screen {
 public:
  LinuxScreen(Rect frame, double scale, uint32_t displayID);

  Rect frame() const override { return frame_; }
  double backingScaleFactor() const override { return scale_; }
  // {"NSScreenNumber": the monitor's display id as an integer}.
  ValueMap deviceDescription() const override;
  uint32_t displayID() const { return displayID_; }

 private:
  const Rect frame_;
  const double scale_;
  const uint32_t displayID_;
};

// The screen holding the centre of `frame` (global bottom-left points), or
// else the first that `frame` touches; none when it touches none.
ScreenPtr screenHoldingFrame(const std::vector<ScreenPtr>& screens, const Rect& frame);

// Runs every listener of `listeners` once; a listener may remove listeners
// while they run.
void notifyLayoutListeners(
    const std::vector<std::pair<uint64_t, std::function<void()>>>& listeners);

}  // namespace dravel::linux_platform
