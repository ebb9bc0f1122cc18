// What a Linux desktop session serves whichever display system draws it:
// the session bus services (notifications, the file manager, the tray's
// menu), the process services (copies of the host, signals), GTK's clipboard,
// dialogs and cursors, the settings and files of the user. The X11 desktop
// and the Wayland desktop each add what only their display system gives
// (screens, the pointer, windows of others, pixels).
#pragma once

#include <functional>
#include <memory>
#include <optional>

#include "platform/linux/session/linux_alerts.h"
#include "platform/linux/session/linux_application.h"
#include "platform/linux/session/linux_bookmarks.h"
#include "platform/linux/session/linux_embedding.h"
#include "platform/linux/session/linux_graphics.h"
#include "platform/linux/session/linux_login_item.h"
#include "platform/linux/session/linux_object_runtime.h"
#include "platform/linux/session/linux_open_panel.h"
#include "platform/linux/session/linux_pasteboard.h"
#include "platform/linux/session/linux_process_control.h"
#include "platform/linux/session/linux_process_info.h"
#include "platform/linux/session/linux_running_applications.h"
#include "platform/linux/session/linux_tray_menus.h"
#include "platform/linux/session/linux_update_framework.h"
#include "platform/linux/session/linux_user_defaults.h"
#include "platform/linux/session/linux_user_notifications.h"
#include "platform/linux/session/linux_window.h"
#include "platform/linux/session/linux_workspace.h"
#include "platform/seam/platform.h"
#include "platform/shared/notification_center.h"

namespace dravel::linux_platform {

class LinuxSession : public Platform {
 public:
  ~LinuxSession() override;
  LinuxSession(const LinuxSession&) = delete;
  LinuxSession& operator=(const LinuxSession&) = delete;

  LinuxApplication& application() override { return *application_; }
  SocketEmbedding& embedding() override { return embedding_; }
  GtkPasteboard& pasteboard() override { return pasteboard_; }
  LinuxWorkspace& workspace() override { return *workspace_; }
  LinuxProcessInfo& processInfo() override { return processInfo_; }
  LinuxRunningApplications& runningApplications() override { return runningApplications_; }
  LinuxGraphics& graphics() override { return graphics_; }
  LinuxUserDefaults& userDefaults() override { return userDefaults_; }
  GtkOpenPanel& openPanel() override { return openPanel_; }
  LinuxBookmarks& bookmarks() override { return bookmarks_; }
  UnsandboxedAccess& securityScopedAccess() override { return securityScopedAccess_; }
  XdgAutostartLoginItem& loginItem() override { return loginItem_; }
  PangoTextSystem& textSystem() override { return textSystem_; }
  InProcessNotificationCenter& appNotificationCenter() override { return appNotificationCenter_; }
  GtkCursorRuntime& objectRuntime() override { return *objectRuntime_; }
  DesktopNotificationCenter& userNotificationCenter() override { return userNotificationCenter_; }
  AbsentUpdateFramework& updateFramework() override { return updateFramework_; }
  LinuxProcessControl& processControl() override { return processControl_; }
  GtkAlerts& alerts() override { return alerts_; }

  // Inside the interface's own process: the main window made from now on is
  // `toplevel`, the embedding's window holding the interface's view (kept
  // referenced), and the mouse cursors are the embedding's.
  void embedIn(GtkWidget* toplevel);

  // The main window while it exists, else null.
  LinuxWindow* mainWindow() const { return mainWindow_; }
  LinuxTrayMenus& trayMenus() { return *trayMenus_; }

 protected:
  // `sessionVariable`: the environment variable naming the display a copy of
  // the host serves (one copy runs per display: a copy serving another
  // display belongs to another session).
  LinuxSession(std::shared_ptr<FlutterBinaryMessenger> messenger, const char* sessionVariable);
  // Makes the services that need the toolkit running; `frontmostPid` reads
  // the owner of the active window where the display system tells it.
  void startSessionServices(std::function<std::optional<int>()> frontmostPid);
  // The main window, made as the application's interface file lays it out,
  // which the session forgets when the host lets it go.
  std::unique_ptr<NativeWindow> makeMainWindow(std::function<DesktopLayout()> layout,
                                               LinuxWindowHooks hooks,
                                               std::unique_ptr<WindowSystem> system);

 private:
  class MainWindow;

  SocketEmbedding embedding_;
  std::unique_ptr<LinuxWorkspace> workspace_;
  std::unique_ptr<LinuxApplication> application_;
  GtkPasteboard pasteboard_;
  LinuxProcessInfo processInfo_;
  // Handles on other copies of the host, shared by the two services that
  // find and signal them.
  std::shared_ptr<ProcessHandles> processHandles_ = std::make_shared<ProcessHandles>();
  LinuxRunningApplications runningApplications_;
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
  // The embedding's toplevel the main window adopts (see embedIn), else null.
  GtkWidget* embeddingToplevel_ = nullptr;
  // The program's identity on the session bus (its well-known name), asked
  // for once the session's services start; 0 until then.
  unsigned identityName_ = 0;
};

}  // namespace dravel::linux_platform
