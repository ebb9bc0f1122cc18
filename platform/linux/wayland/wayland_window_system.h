// The main window's Wayland part: the compositor places toplevels and tells
// their size only; the overlay covers the monitor its frame lies on, as
// wayland_overlay.h says, once the desktop has looked at that monitor. The
// window number is a number of the process's own (see linux_window.h).
#pragma once

#include <cstdint>
#include <functional>
#include <memory>

#include "platform/linux/session/linux_window.h"
#include "platform/linux/session/window_system.h"

namespace dravel::linux_platform {

class WaylandOverlay;

// What the Wayland desktop attaches to the window; each may be empty.
struct WaylandWindowHooks {
  // Runs when the overlay is to show over `area` (the frame's pixels); the
  // overlay shows when `ready` runs, on the main thread, unless it was
  // hidden again meanwhile. Without it the overlay shows at once.
  std::function<void(int64_t window, const DesktopLayout::PixelRect& area,
                     std::function<void()> ready)>
      prepareOverlay;
  // The toolkit's monitor (its index) that the overlay over `area` covers;
  // -1 when none is under it, and the overlay is ordered out. Without it the
  // compositor chooses.
  std::function<int(const DesktopLayout::PixelRect& area)> monitorIndex;
  // Whether the compositor offers the layer shell (see wayland_overlay.h).
  bool layerShell = false;
};

class WaylandWindowSystem : public WindowSystem {
 public:
  explicit WaylandWindowSystem(WaylandWindowHooks hooks);
  ~WaylandWindowSystem() override;
  WaylandWindowSystem(const WaylandWindowSystem&) = delete;
  WaylandWindowSystem& operator=(const WaylandWindowSystem&) = delete;

  void attach(LinuxWindow& window) override;
  void detach() override;
  int64_t windowNumber() const override { return number_; }
  bool overlayMustWait() override;
  void map(bool focus) override;
  void unmap(bool wasOverlay) override;
  void takeFocus() override;
  GtkWidget* overlaySurface() const override;
  void opacityChanged(double opacity) override;
  void configured(const GdkEvent& event) override;

 private:
  WaylandWindowHooks hooks_;
  LinuxWindow* window_ = nullptr;
  std::unique_ptr<WaylandOverlay> overlay_;
  int64_t number_ = 0;
  // Counts the overlay's preparations; a late answer to an earlier one is
  // ignored. alive_ turns false when the window goes.
  uint64_t prepareTicket_ = 0;
  std::shared_ptr<bool> alive_ = std::make_shared<bool>(true);
};

}  // namespace dravel::linux_platform
