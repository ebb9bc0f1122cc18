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

#include "platform/linux/linux_alerts.h"
#include "platform/linux/linux_application.h"
#include "platform/linux/linux_bookmarks.h"
#include "platform/linux/linux_embedding.h"
#include "platform/linux/linux_graphics.h"
#include "platform/linux/linux_input.h"
#include "platform/linux/linux_login_item.h"
#include "platform/linux/linux_object_runtime.h"
#include "platform/linux/linux_open_panel.h"
#include "platform/linux/linux_pasteboard.h"
#include "platform/linux/linux_process_control.h"
#include "platform/linux/linux_process_info.h"
#include "platform/linux/linux_running_applications.h"
#include "platform/linux/linux_screen_capture.h"
#include "platform/linux/linux_screen_capture_access.h"
#include "platform/linux/linux_screens.h"
#include "platform/linux/linux_tray_menus.h"
#include "platform/linux/linux_update_framework.h"
#include "platform/linux/linux_user_defaults.h"
#include "platform/linux/linux_user_notifications.h"
#include "platform/linux/linux_window.h"
#include "platform/linux/linux_window_list.h"
#include "platform/linux/linux_workspace.h"
#include "platform/linux/x_connection.h"
#include "platform/notification_center.h"
#include "platform/platform.h"

namespace dravel::linux_platform {

class LinuxDesktop : public Platform {
 public:
  // Starts GTK on the default main context and connects to the X server
  // named by DISPLAY. Null when either fails; `why` says which.
  static std::unique_ptr<LinuxDesktop> create(std::shared_ptr<FlutterBinaryMessenger> messenger,
                                              std::string* why);
  ~LinuxDesktop() override;
  LinuxDesktop(const LinuxDesktop&) = delete;
  LinuxDesktop& operator=(const LinuxDesktop&) = delete;

  LinuxApplication& application() override { return *application_; }
  SocketEmbedding& embedding() override { return embedding_; }
  LinuxScreens& screens() override { return *screens_; }
  LinuxInput& input() override { return *input_; }
  GtkPasteboard& pasteboard() override { return pasteboard_; }
  LinuxWorkspace& workspace() override { return *workspace_; }
  X11ScreenCaptureAccess& screenCaptureAccess() override { return screenCaptureAccess_; }
  LinuxProcessInfo& processInfo() override { return processInfo_; }
  LinuxWindowList& windowList() override { return *windowList_; }
  LinuxRunningApplications& runningApplications() override { return runningApplications_; }
  LinuxScreenCapture& screenCapture() override { return *screenCapture_; }
  LinuxGraphics& graphics() override { return graphics_; }
  LinuxUserDefaults& userDefaults() override { return userDefaults_; }
  GtkOpenPanel& openPanel() override { return openPanel_; }
  LinuxBookmarks& bookmarks() override { return bookmarks_; }
  UnsandboxedAccess& securityScopedAccess() override { return securityScopedAccess_; }
  XdgAutostartLoginItem& loginItem() override { return loginItem_; }
  PangoTextSystem& textSystem() override { return textSystem_; }
  InProcessNotificationCenter& appNotificationCenter() override { return appNotificationCenter_; }
  GtkCursorRuntime& objectRuntime() override { return *objectRuntime_; }
  DesktopNotificationCenter& userNotificationCenter() override {
    return userNotificationCenter_;
  }
  AbsentUpdateFramework& updateFramework() override { return updateFramework_; }
  LinuxProcessControl& processControl() override { return processControl_; }
  GtkAlerts& alerts() override { return alerts_; }

  std::unique_ptr<NativeWindow> createMainWindow() override;
  // The main window while it exists, else null.
  LinuxWindow* mainWindow() const { return mainWindow_; }
  XConnection& connection() { return *connection_; }
  LinuxTrayMenus& trayMenus() { return *trayMenus_; }

 private:
  friend class LinuxMainWindow;
  explicit LinuxDesktop(std::shared_ptr<FlutterBinaryMessenger> messenger);

  std::unique_ptr<XConnection> connection_;
  SocketEmbedding embedding_;
  std::unique_ptr<LinuxScreens> screens_;
  std::unique_ptr<LinuxInput> input_;
  std::unique_ptr<LinuxWindowList> windowList_;
  std::unique_ptr<LinuxWorkspace> workspace_;
  std::unique_ptr<LinuxApplication> application_;
  GtkPasteboard pasteboard_;
  X11ScreenCaptureAccess screenCaptureAccess_;
  LinuxProcessInfo processInfo_;
  // One copy per display: a copy serving another display is another session.
  // Handles on other copies of the host, shared by the two services that
  // find and signal them.
  std::shared_ptr<ProcessHandles> processHandles_ = std::make_shared<ProcessHandles>();
  LinuxRunningApplications runningApplications_{kApplicationId, "/proc", "DISPLAY",
                                                processHandles_};
  LinuxGraphics graphics_;
  LinuxUserDefaults userDefaults_;
  GtkOpenPanel openPanel_;
  LinuxBookmarks bookmarks_;
  UnsandboxedAccess securityScopedAccess_;
  XdgAutostartLoginItem loginItem_;
  PangoTextSystem textSystem_;
  InProcessNotificationCenter appNotificationCenter_;
  // After the centre it announces through, so that it goes first.
  std::unique_ptr<LinuxTrayMenus> trayMenus_;
  std::unique_ptr<GtkCursorRuntime> objectRuntime_;
  // A click on a notification brings the application forward, as the
  // desktop does for an application it launches.
  DesktopNotificationCenter userNotificationCenter_{
      kApplicationId, [this] { application().activateIgnoringOtherApps(true); }};
  AbsentUpdateFramework updateFramework_;
  LinuxProcessControl processControl_{processHandles_};
  GtkAlerts alerts_;
  LinuxWindow* mainWindow_ = nullptr;
  // Last, so that its worker stops before anything else goes.
  std::unique_ptr<LinuxScreenCapture> screenCapture_;
};

}  // namespace dravel::linux_platform
