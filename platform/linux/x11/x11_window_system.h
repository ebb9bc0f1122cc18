// The main window's X11 part: the X id, the window manager's frame,
// override-redirect for the overlay with its focus and grabs, and the
// server's reports, ordered by their request serials so that a report made
// before the last request says nothing about it (see linux_window.h).
#pragma once

#include <cstdint>
#include <optional>

#include "platform/linux/session/linux_window.h"
#include "platform/linux/session/window_system.h"

typedef struct _XDisplay Display;

namespace dravel::linux_platform {

class X11WindowSystem : public WindowSystem {
 public:
  X11WindowSystem() = default;
  X11WindowSystem(const X11WindowSystem&) = delete;
  X11WindowSystem& operator=(const X11WindowSystem&) = delete;

  void attach(LinuxWindow& window) override;
  void detach() override;
  int64_t windowNumber() const override { return xid_; }
  FrameExtents managerExtents() const override { return managerExtents_; }
  void requestFrameExtents() override;
  void readFrameExtents() override;
  void decorationsChanged() override;
  void geometryApplied() override;
  void showStarted() override;
  bool overlayMustWait() override;
  void map(bool focus) override;
  void unmap(bool wasOverlay) override;
  void takeFocus() override;
  bool holdsGrabs() const override { return grabbed_; }
  Point pointerInWindow() const override;
  void configured(const GdkEvent& event) override;
  bool mapReported() override;
  bool unmapReported(bool meantShown) override;
  void propertyChanged(const GdkEvent& event) override;
  void grabBroken() override { grabbed_ = false; }

 private:
  struct Filter;

  void requestGeometry();
  bool heldByWindowManager() const;
  uint32_t serverTime() const;
  void grab();
  void releaseGrabs();

  LinuxWindow* window_ = nullptr;
  Display* display_ = nullptr;
  uint32_t xid_ = 0;
  // Request serials: of the last geometry request and of the last show or
  // map; and of the last configure, unmap and map reports for the window.
  struct {
    unsigned long geometry = 0, shown = 0;
    unsigned long configured = 0, unmapped = 0, mapped = 0;
  } serials_;
  // Whether the server last reported the window mapped.
  bool mapped_ = false;
  bool grabbed_ = false;
  // The idle source that maps the waiting overlay once the window manager
  // has let the window go.
  unsigned int releaseIdle_ = 0;
  // How often the overlay was put back in place since the last request.
  int overlayReplacements_ = 0;
  // _NET_FRAME_EXTENTS as the window manager last set them.
  FrameExtents managerExtents_;
};

}  // namespace dravel::linux_platform
