// The monitors of a Wayland session as the host's screens, from the
// toolkit's monitors (GDK's Wayland backend).
//
// Points are the compositor's logical pixels on every compositor. GDK gives
// logical geometry where the compositor lays monitors out in logical pixels
// (wlroots compositors, KWin, mutter's logical layout mode) and device pixels
// where mutter lays them out physically (its default); which of the two
// holds is asked of mutter's display configuration when the session bus
// offers it. In a physical layout a monitor's size in points is its pixels
// over its own scale, and positions are divided by the smallest scale of the
// layout, so that monitors never overlap in points (gaps may open between
// them, as the physical layout itself has no logical space).
//
// The primary screen is the monitor GDK calls primary, else GDK's first.
// Each monitor has its own integer scale. Display ids are given per monitor
// object, from 1 up: stable while the output exists, never reused for
// another output in the same run.
#pragma once

#include <cstdint>
#include <functional>
#include <optional>
#include <utility>
#include <vector>

#include "platform/seam/geometry.h"
#include "platform/linux/wayland/capture/capture_route.h"
#include "platform/linux/session/screen_layout.h"
#include "platform/seam/screens.h"

typedef struct _GdkDisplay GdkDisplay;

namespace dravel::linux_platform {

// One monitor, in logical pixels of the compositor's space (y downward).
struct WaylandMonitor {
  uint32_t displayID = 0;
  int64_t x = 0;
  int64_t y = 0;
  int64_t width = 0;
  int64_t height = 0;
  int scale = 1;
  bool primary = false;
  std::string manufacturer;
  std::string model;
  bool operator==(const WaylandMonitor&) const = default;
};

// The geometry of toolkit monitors as the host uses it. `physical`: the
// rectangles are device pixels (mutter's physical layout), to be turned
// into logical ones as the header says.
std::vector<WaylandMonitor> logicalMonitors(std::vector<WaylandMonitor> monitors, bool physical);

class WaylandScreens : public Screens {
 public:
  // `display`: the toolkit's Wayland display, on the main thread.
  explicit WaylandScreens(GdkDisplay* display);
  ~WaylandScreens() override;
  WaylandScreens(const WaylandScreens&) = delete;
  WaylandScreens& operator=(const WaylandScreens&) = delete;

  // One screen per monitor, the primary first.
  std::vector<ScreenPtr> screens() override;
  // The screen holding the centre of the key window's frame, or the first
  // it touches; none without a key window.
  ScreenPtr mainScreen() override;
  void setKeyWindowFrameSource(std::function<std::optional<Rect>()> source);

  // The monitors, GDK's order (logical pixels).
  const std::vector<WaylandMonitor>& monitors() const { return monitors_; }
  // The same as the capture routes see them.
  RouteLayout routeLayout() const;
  // The monitors as a layout of logical pixels at scale 1, for the window
  // and pointer arithmetic the X11 desktop shares.
  DesktopLayout layout() const;

  // Reads the monitors again; the listeners run when they changed.
  void refresh();
  uint64_t addLayoutListener(std::function<void()> listener);
  void removeLayoutListener(uint64_t id);

 private:
  struct Signals;
  void askLayoutMode();
  void setPhysicalLayout(bool physical);
  void watchMonitor(void* monitor);

  GdkDisplay* display_;
  std::function<std::optional<Rect>()> keyWindowFrame_;
  std::vector<WaylandMonitor> monitors_;
  bool physical_ = false;
  // Mutter's display configuration: the signal subscription and a pending
  // question, cancelled when this goes.
  void* bus_ = nullptr;
  unsigned subscription_ = 0;
  void* cancellable_ = nullptr;
  uint64_t nextListener_ = 1;
  std::vector<std::pair<uint64_t, std::function<void()>>> listeners_;
};

}  // namespace dravel::linux_platform
