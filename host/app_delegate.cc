#include "host/app_delegate.h"

#include "channels/log.h"
#include "channels/main_queue.h"
#include "host/main_flutter_window.h"
#include "host/notifications_plugin.h"
#include "host/sandbox.h"
#include "platform/seam/platform.h"

namespace dravel {

namespace {
constexpr double kReopenDelay = 0.3;
// A reopen this soon after a notification answer comes from that click.
constexpr double kNotificationClickWindow = 1.5;
}  // namespace

void AppDelegate::applicationWillFinishLaunching() {
  if (!Sandbox::active()) terminateOtherInstances();
  platform().userNotificationCenter().setDelegate(&NotificationsPlugin::shared());
}

bool AppDelegate::applicationShouldHandleReopen(bool hasVisibleWindows) {
  if (hasVisibleWindows) return true;
  std::weak_ptr<AppDelegate> weak = weak_from_this();
  mainQueue().asyncAfter(kReopenDelay, [weak] {
    if (auto self = weak.lock()) self->reopenCheck();
  });
  return true;
}

void AppDelegate::reopenCheck() {
  const double elapsed = mainQueue().now() - NotificationsPlugin::shared().lastResponseAt;
  if (elapsed < kNotificationClickWindow) {
    NSLog("[Reopen] from notification click - no window");
    return;
  }
  platform().application().setActivationPolicy(kActivationPolicyRegular);
  if (auto window = mainFlutterWindow.lock()) window->native().makeKeyAndOrderFront();
  platform().application().activateIgnoringOtherApps(true);
}

}  // namespace dravel
