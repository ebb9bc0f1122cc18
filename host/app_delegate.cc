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
  if (!Sandbox::active()) {
    terminateOtherInstances();
  } else if (platform().application().handOverToRunningCopy()) {
    // Inside the sandbox nothing else keeps the application to one copy: the
    // running one comes forward, as on a reopen, and this one ends.
    NSLog("[SingleInstance] another copy is running; it comes forward - exiting");
    platform().processControl().exitProcess(0);
    return;
  }
  std::weak_ptr<AppDelegate> weak = weak_from_this();
  platform().application().setReopenHandler([weak](bool hasVisibleWindows) {
    if (auto self = weak.lock()) self->applicationShouldHandleReopen(hasVisibleWindows);
  });
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
