// The X screen's monitors as the host's screens.
//
// The monitors come from RandR (see readMonitors) and are read again when the
// server reports a change: the root window's RandR screen-change, CRTC and
// output events, and its ConfigureNotify (which is all a monitor defined
// with `xrandr --setmonitor` raises). The scale comes from the toolkit each
// time it is needed, since it may change without any RandR event.
//
// Screen objects are snapshots: a screen keeps the frame, scale and id it
// had when screens() made it.
#pragma once

#include <cstdint>
#include <functional>
#include <optional>
#include <utility>
#include <vector>

#include "platform/seam/geometry.h"
#include "platform/linux/session/screen_layout.h"
#include "platform/seam/screens.h"

namespace dravel::linux_platform {

class XConnection;

// The monitors the server reports: RandR 1.5 monitors (those without outputs
// included), else RandR CRTCs, else the whole root window as one monitor.
std::vector<MonitorPixels> readMonitors(XConnection& connection);

class X11Screens : public Screens {
 public:
  // `connection`: the main-thread connection, attached to the main context
  // for change events to arrive (or dispatched by hand). `scaleSource`: the
  // toolkit's integer window scale; null or a value below 1 counts as 1.
  X11Screens(XConnection& connection, std::function<int()> scaleSource);
  ~X11Screens() override;
  X11Screens(const X11Screens&) = delete;
  X11Screens& operator=(const X11Screens&) = delete;

  // One screen per monitor, the primary first.
  std::vector<ScreenPtr> screens() override;
  // The screen holding the centre of the key window's frame (or, when no
  // screen holds it, the first the frame touches); none without a key
  // window.
  ScreenPtr mainScreen() override;

  // The key window's frame in global bottom-left points, none when no
  // window of this process is key. Supplied by the window code.
  void setKeyWindowFrameSource(std::function<std::optional<Rect>()> source);

  // The monitors as last read, with the scale as the toolkit gives it now.
  DesktopLayout layout() const;
  int scale() const;
  XConnection& connection() const { return connection_; }

  // Reads the monitors again now; the listeners run when they changed.
  void refresh();
  // Runs after every change of the monitors seen by refresh() or an event.
  uint64_t addLayoutListener(std::function<void()> listener);
  void removeLayoutListener(uint64_t id);

 private:
  XConnection& connection_;
  std::function<int()> scaleSource_;
  std::function<std::optional<Rect>()> keyWindowFrame_;
  std::vector<MonitorPixels> monitors_;
  uint64_t eventListener_ = 0;
  uint64_t nextListener_ = 1;
  std::vector<std::pair<uint64_t, std::function<void()>>> listeners_;
};

}  // namespace dravel::linux_platform
