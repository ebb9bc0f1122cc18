// The seam between the host and the operating system: one interface per
// service. The simulated desktop and a real desktop each implement all of them.
#pragma once

#include <memory>

#include "platform/seam/alerts.h"
#include "platform/seam/app_notification_center.h"
#include "platform/seam/application.h"
#include "platform/seam/bookmarks.h"
#include "platform/seam/embedding.h"
#include "platform/seam/graphics.h"
#include "platform/seam/input.h"
#include "platform/seam/login_item.h"
#include "platform/seam/native_window.h"
#include "platform/seam/object_runtime.h"
#include "platform/seam/open_panel.h"
#include "platform/seam/pasteboard.h"
#include "platform/seam/process_control.h"
#include "platform/seam/process_info.h"
#include "platform/seam/running_applications.h"
#include "platform/seam/screen_capture.h"
#include "platform/seam/screen_capture_access.h"
#include "platform/seam/screens.h"
#include "platform/seam/system_shortcuts.h"
#include "platform/seam/text_system.h"
#include "platform/seam/update_framework.h"
#include "platform/seam/user_defaults.h"
#include "platform/seam/user_notification_center.h"
#include "platform/seam/window_list.h"
#include "platform/seam/workspace.h"

namespace dravel {

class Platform {
 public:
  virtual ~Platform() = default;

  virtual Application& application() = 0;
  virtual Embedding& embedding() = 0;
  virtual Screens& screens() = 0;
  virtual Input& input() = 0;
  virtual Pasteboard& pasteboard() = 0;
  virtual Workspace& workspace() = 0;
  virtual ScreenCaptureAccess& screenCaptureAccess() = 0;
  virtual ProcessInfo& processInfo() = 0;
  virtual WindowList& windowList() = 0;
  virtual RunningApplications& runningApplications() = 0;
  virtual ScreenCapture& screenCapture() = 0;
  virtual Graphics& graphics() = 0;
  virtual UserDefaults& userDefaults() = 0;
  virtual SystemShortcuts& systemShortcuts() = 0;
  virtual OpenPanel& openPanel() = 0;
  virtual Bookmarks& bookmarks() = 0;
  virtual SecurityScopedAccess& securityScopedAccess() = 0;
  virtual LoginItem& loginItem() = 0;
  virtual TextSystem& textSystem() = 0;
  virtual AppNotificationCenter& appNotificationCenter() = 0;
  virtual ObjectRuntime& objectRuntime() = 0;
  virtual UserNotificationCenter& userNotificationCenter() = 0;
  virtual UpdateFramework& updateFramework() = 0;
  virtual ProcessControl& processControl() = 0;
  virtual Alerts& alerts() = 0;

  // Makes the main window, as the application's interface file lays it out.
  virtual std::unique_ptr<NativeWindow> createMainWindow() = 0;
};

// The process-wide platform, installed at start-up (or by a test).
Platform& platform();
void setPlatform(Platform* platform);

}  // namespace dravel
