// The simulated desktop: a whole platform made of plain state that tests and
// scenarios set and read.
#pragma once

#include <memory>

#include "platform/seam/platform.h"
#include "platform/sim/recent_log.h"
#include "platform/sim/sim_alerts.h"
#include "platform/sim/sim_application.h"
#include "platform/sim/sim_bookmarks.h"
#include "platform/sim/sim_embedding.h"
#include "platform/sim/sim_graphics.h"
#include "platform/sim/sim_login_item.h"
#include "platform/sim/sim_object_runtime.h"
#include "platform/sim/sim_open_panel.h"
#include "platform/sim/sim_process_control.h"
#include "platform/sim/sim_screen_capture.h"
#include "platform/sim/sim_screens.h"
#include "platform/sim/sim_services.h"
#include "platform/sim/sim_text_system.h"
#include "platform/sim/sim_tray.h"
#include "platform/sim/sim_update_framework.h"
#include "platform/sim/sim_user_defaults.h"
#include "platform/sim/sim_user_notification_center.h"
#include "platform/sim/sim_window.h"
#include "platform/sim/sim_window_list.h"

namespace dravel::sim {

class SimDesktop : public Platform {
 public:
  // `messenger` is the engine's end of the connection to the interface.
  explicit SimDesktop(std::shared_ptr<FlutterBinaryMessenger> messenger);
  ~SimDesktop() override;

  SimApplication& application() override { return application_; }
  SimEmbedding& embedding() override { return embedding_; }
  SimScreens& screens() override { return screens_; }
  SimInput& input() override { return input_; }
  SimPasteboard& pasteboard() override { return pasteboard_; }
  SimWorkspace& workspace() override { return workspace_; }
  SimScreenCaptureAccess& screenCaptureAccess() override { return screenCaptureAccess_; }
  SimProcessInfo& processInfo() override { return processInfo_; }
  SimWindowList& windowList() override { return windowList_; }
  SimRunningApplications& runningApplications() override { return runningApplications_; }
  SimScreenCapture& screenCapture() override { return *screenCapture_; }
  SimGraphics& graphics() override { return graphics_; }
  SimUserDefaults& userDefaults() override { return userDefaults_; }
  SimSystemShortcuts& systemShortcuts() override { return systemShortcuts_; }
  SimOpenPanel& openPanel() override { return openPanel_; }
  SimBookmarks& bookmarks() override { return bookmarks_; }
  SimSecurityScopedAccess& securityScopedAccess() override { return securityScopedAccess_; }
  SimLoginItem& loginItem() override { return loginItem_; }
  SimTextSystem& textSystem() override { return textSystem_; }
  InProcessNotificationCenter& appNotificationCenter() override { return appNotificationCenter_; }
  SimObjectRuntime& objectRuntime() override { return objectRuntime_; }
  // The tray plugin's stand-in (not a service of the host's platform).
  SimTray& tray() { return tray_; }
  SimUserNotificationCenter& userNotificationCenter() override { return userNotificationCenter_; }
  SimUpdateFramework& updateFramework() override { return updateFramework_; }
  SimProcessControl& processControl() override { return processControl_; }
  SimAlerts& alerts() override { return alerts_; }

  std::unique_ptr<NativeWindow> createMainWindow() override;
  // The main window once made (owned by the host), else null.
  SimWindow* mainWindow() const { return mainWindow_; }
  // Every log line since the desktop was made (the most recent
  // RecentLog::kCapacity), as the "log" state reports them.
  const RecentLog& hostLog() const { return hostLog_; }

 private:
  friend class SimMainWindow;
  // First, so that it keeps lines from the desktop's whole life.
  RecentLog hostLog_;
  SimApplication application_;
  SimEmbedding embedding_;
  SimScreens screens_;
  SimInput input_;
  SimPasteboard pasteboard_;
  SimWorkspace workspace_;
  SimScreenCaptureAccess screenCaptureAccess_;
  SimProcessInfo processInfo_;
  SimWindowList windowList_;
  SimRunningApplications runningApplications_;
  SimGraphics graphics_;
  SimUserDefaults userDefaults_;
  SimSystemShortcuts systemShortcuts_{userDefaults_};
  SimOpenPanel openPanel_;
  SimBookmarks bookmarks_;
  SimSecurityScopedAccess securityScopedAccess_;
  SimLoginItem loginItem_;
  SimTextSystem textSystem_;
  InProcessNotificationCenter appNotificationCenter_;
  SimObjectRuntime objectRuntime_;
  SimTray tray_{appNotificationCenter_};
  SimProcessControl processControl_{runningApplications_};
  SimUpdateFramework updateFramework_;
  SimAlerts alerts_;
  // Goes before the services above: its thread is joined while they still
  // exist.
  SimUserNotificationCenter userNotificationCenter_;
  SimWindow* mainWindow_ = nullptr;
  // Last, so that its worker stops before anything else goes.
  std::unique_ptr<SimScreenCapture> screenCapture_;
};

}  // namespace dravel::sim
