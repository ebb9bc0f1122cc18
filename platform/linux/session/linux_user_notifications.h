// User notifications through the desktop's notification service
// (org.freedesktop.Notifications on the session bus).
// - One long-lived connection. The subscriptions to ActionInvoked and
//   NotificationClosed exist before the first notification is sent: the
//   service sends those signals to the connection that notified, and to no
//   one else.
// - A notification is sent with the default action ("default"), the
//   application id as its desktop entry, and either the message sound or
//   no sound. The service's id of each identifier is kept, so that a later
//   notification of the same identifier replaces the earlier one on screen.
// - A click (ActionInvoked with "default") brings the application forward
//   and reaches the delegate, on the main thread, as an answer with the
//   default action. A notification closed without a click (expired,
//   dismissed) is forgotten; it is not an answer.
// - Permission is granted while the service answers. A service that offers
//   no actions is logged once: clicks cannot come back from it.
// - A service that restarts or vanishes is survived: its ids are forgotten
//   (a new service counts anew) and requests made while none runs fail.
// - Nothing waits on the main thread: every call is asynchronous, with a
//   timeout.
// Inside a Flatpak sandbox the notification portal
// (org.freedesktop.portal.Notification) serves instead. A notification is
// added under its identifier, so that a later one of the same identifier
// replaces it; its default action is "open", a name without the "app."
// prefix, which the portal hands back to the application as its
// ActionInvoked signal. A click brings the application forward, reaches the
// delegate as above and removes the notification. Permission is granted
// while the portal answers. The portal plays no sounds of its own choosing.
#pragma once

#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <string>

#include "platform/seam/user_notification_center.h"

namespace dravel::linux_platform {

class DesktopNotificationCenter : public UserNotificationCenter {
 public:
  // `bringForward` runs (on the main thread) when the user clicks a
  // notification, before the delegate hears of it. `timeoutMs` bounds each
  // call to the service.
  // Inside a sandbox (`sandboxed`, by default whether the process runs in
  // Flatpak) the notification portal serves.
  explicit DesktopNotificationCenter(std::string applicationId,
                                     std::function<void()> bringForward = {},
                                     int timeoutMs = 10000);
  DesktopNotificationCenter(std::string applicationId, std::function<void()> bringForward,
                            int timeoutMs, bool sandboxed);
  ~DesktopNotificationCenter() override;
  DesktopNotificationCenter(const DesktopNotificationCenter&) = delete;
  DesktopNotificationCenter& operator=(const DesktopNotificationCenter&) = delete;

  void setDelegate(UserNotificationCenterDelegate* delegate) override { delegate_ = delegate; }
  UserNotificationCenterDelegate* delegate() const override { return delegate_; }
  // Both may be called from any thread; their completions run on the main
  // thread.
  void requestAuthorizationWithOptions(int options, AuthorizationCompletion completion) override;
  void addNotificationRequest(NotificationRequest request, AddCompletion completion) override;

  struct State;

 private:
  std::shared_ptr<State> state_;
  UserNotificationCenterDelegate* delegate_ = nullptr;
};

}  // namespace dravel::linux_platform
