// The real Linux desktop behind the host's seam, on X11: GTK 3 on the host's
// main GLib context for windows and the clipboard, Xlib where GDK has no API
// (RandR monitors, the window manager's window list, shared-memory capture).
//
// Real on this desktop: screens, the pointer, the window list and the
// frontmost application, screen capture on both routes (the overlay left
// out), the permission (X has none to ask), the main window and its overlay,
// the application, the clipboard, the mouse cursors, the desktop's own
// hotkeys (GNOME's keybinding settings), modal alerts, the folder chooser,
// folder bookmarks, start at login (an XDG autostart entry), processes, the
// tray menu's decorations (through the D-Bus menu). The rest answers clearly
// that it is not available (see each service's header).
#pragma once

#include <memory>
#include <string>

#include "platform/linux/linux_input.h"
#include "platform/linux/linux_screen_capture.h"
#include "platform/linux/linux_screen_capture_access.h"
#include "platform/linux/linux_screens.h"
#include "platform/linux/linux_session.h"
#include "platform/linux/linux_window_list.h"
#include "platform/linux/x_connection.h"

namespace dravel::linux_platform {

class LinuxDesktop : public LinuxSession {
 public:
  // Starts GTK on the default main context and connects to the X server
  // named by DISPLAY. Null when either fails; `why` says which.
  static std::unique_ptr<LinuxDesktop> create(std::shared_ptr<FlutterBinaryMessenger> messenger,
                                              std::string* why);
  ~LinuxDesktop() override;

  LinuxScreens& screens() override { return *screens_; }
  LinuxInput& input() override { return *input_; }
  X11ScreenCaptureAccess& screenCaptureAccess() override { return screenCaptureAccess_; }
  LinuxWindowList& windowList() override { return *windowList_; }
  LinuxScreenCapture& screenCapture() override { return *screenCapture_; }

  std::unique_ptr<NativeWindow> createMainWindow() override;
  XConnection& connection() { return *connection_; }

 private:
  explicit LinuxDesktop(std::shared_ptr<FlutterBinaryMessenger> messenger);

  std::unique_ptr<XConnection> connection_;
  std::unique_ptr<LinuxScreens> screens_;
  std::unique_ptr<LinuxInput> input_;
  std::unique_ptr<LinuxWindowList> windowList_;
  X11ScreenCaptureAccess screenCaptureAccess_;
  // Last, so that its worker stops before anything else goes.
  std::unique_ptr<LinuxScreenCapture> screenCapture_;
};

}  // namespace dravel::linux_platform
