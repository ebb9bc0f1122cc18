// The real Linux desktop behind the host's seam, on X11: GTK 3 on the host's
// main GLib context for windows and the clipboard, Xlib where GDK has no API
// (RandR monitors, the window manager's window list, shared-memory capture).
//
// Real on this desktop: screens, the pointer, the window list and the
// frontmost application, screen capture on both routes (the overlay left
// out), the permission (X has none to ask), the main window and its overlay,
// the application, the clipboard, the mouse cursors, the desktop's own
// shortcuts (the server's key grabs), modal alerts, the folder chooser,
// folder bookmarks, start at login (an XDG autostart entry), processes, the
// tray menu's decorations (through the D-Bus menu). The rest answers clearly
// that it is not available (see each service's header).
#pragma once

#include <memory>
#include <string>

#include "platform/linux/session/linux_session.h"
#include "platform/linux/x11/x11_connection.h"
#include "platform/linux/x11/x11_input.h"
#include "platform/linux/x11/x11_screen_capture.h"
#include "platform/linux/x11/x11_screen_capture_access.h"
#include "platform/linux/x11/x11_screens.h"
#include "platform/linux/x11/x11_system_shortcuts.h"
#include "platform/linux/x11/x11_window_list.h"

namespace dravel::linux_platform {

class X11Desktop : public LinuxSession {
 public:
  // Starts GTK on the default main context and connects to the X server
  // named by DISPLAY. Null when either fails; `why` says which.
  static std::unique_ptr<X11Desktop> create(std::shared_ptr<FlutterBinaryMessenger> messenger,
                                            std::string* why);
  ~X11Desktop() override;

  X11Screens& screens() override { return *screens_; }
  X11Input& input() override { return *input_; }
  X11ScreenCaptureAccess& screenCaptureAccess() override { return screenCaptureAccess_; }
  X11WindowList& windowList() override { return *windowList_; }
  X11ScreenCapture& screenCapture() override { return *screenCapture_; }
  X11SystemShortcuts& systemShortcuts() override { return systemShortcuts_; }

  std::unique_ptr<NativeWindow> createMainWindow() override;
  XConnection& connection() { return *connection_; }

 private:
  explicit X11Desktop(std::shared_ptr<FlutterBinaryMessenger> messenger);

  std::unique_ptr<XConnection> connection_;
  std::unique_ptr<X11Screens> screens_;
  std::unique_ptr<X11Input> input_;
  std::unique_ptr<X11WindowList> windowList_;
  X11ScreenCaptureAccess screenCaptureAccess_;
  X11SystemShortcuts systemShortcuts_{[this] { return connection_.get(); }};
  // Last, so that its worker stops before anything else goes.
  std::unique_ptr<X11ScreenCapture> screenCapture_;
};

}  // namespace dravel::linux_platform
