// The real Linux desktop behind the host's seam on a Wayland session: GTK 3
// on its Wayland backend, on the host's main GLib context, with the session
// services every Linux desktop shares.
//
// Real on this desktop: screens (the toolkit's monitors, each with its own
// scale), the pointer where Wayland tells it (see wayland_input.h), screen
// capture through what the compositor offers (see wayland_screen_capture.h)
// and its permission, and everything of LinuxSession. The window list and
// the frontmost application are sway's where its IPC answers (see
// wayland_window_list.h), else empty: Wayland shows no client the windows
// of others. The desktop's own shortcuts are those of sway, KDE or GNOME,
// whichever the session shows (see wayland_system_shortcuts.h).
#pragma once

#include <functional>
#include <memory>
#include <string>

#include "platform/linux/session/linux_session.h"
#include "platform/linux/wayland/wayland_capabilities.h"
#include "platform/linux/wayland/wayland_input.h"
#include "platform/linux/wayland/wayland_screen_capture.h"
#include "platform/linux/wayland/wayland_screen_capture_access.h"
#include "platform/linux/wayland/wayland_screens.h"
#include "platform/linux/wayland/wayland_system_shortcuts.h"
#include "platform/linux/wayland/wayland_window_list.h"

namespace dravel::linux_platform {

class WaylandDesktop : public LinuxSession {
 public:
  // Starts GTK's Wayland backend on the default main context, connecting to
  // the compositor named by WAYLAND_DISPLAY. Null when it cannot; `why` says
  // why.
  static std::unique_ptr<WaylandDesktop> create(std::shared_ptr<FlutterBinaryMessenger> messenger,
                                                std::string* why);
  ~WaylandDesktop() override;

  WaylandScreens& screens() override { return *screens_; }
  WaylandInput& input() override { return *input_; }
  WaylandScreenCaptureAccess& screenCaptureAccess() override { return *screenCaptureAccess_; }
  WaylandWindowList& windowList() override { return windowList_; }
  WaylandScreenCapture& screenCapture() override { return *screenCapture_; }
  WaylandSystemShortcuts& systemShortcuts() override { return systemShortcuts_; }
  std::unique_ptr<NativeWindow> createMainWindow() override;

  // The compositor's socket name.
  const std::string& displayName() const { return displayName_; }
  // Runs once, on the main thread, when the connection to the compositor
  // breaks; the process ends right after it (the toolkit cannot go on
  // without its display).
  void setDisplayLostHandler(std::function<void(const std::string& message)> handler);

 private:
  // The monitor under `area` (layout pixels) and its place in the toolkit's
  // list; null when the area lies on none.
  const WaylandMonitor* monitorUnder(const DesktopLayout::PixelRect& area, int* index) const;
  explicit WaylandDesktop(std::shared_ptr<FlutterBinaryMessenger> messenger);
  void watchConnection();

  std::string displayName_;
  WaylandCapabilities capabilities_;
  // The display the overlay was last shown on.
  uint32_t overlayDisplay_ = 0;
  std::unique_ptr<WaylandScreens> screens_;
  std::unique_ptr<WaylandInput> input_;
  WaylandWindowList windowList_;
  // Chosen as the desktop is made, after the toolkit has started.
  WaylandSystemShortcuts systemShortcuts_;
  std::function<void(const std::string&)> displayLost_;
  unsigned connectionWatch_ = 0;
  // Last but one and last, so that the worker stops before anything else goes.
  std::unique_ptr<WaylandScreenCapture> screenCapture_;
  std::unique_ptr<WaylandScreenCaptureAccess> screenCaptureAccess_;
};

// Whether WAYLAND_DISPLAY or XDG_SESSION_TYPE says this is a Wayland session.
bool isWaylandSession();

}  // namespace dravel::linux_platform
