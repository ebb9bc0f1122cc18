// User notifications on Linux. The desktop's notification service is not
// used yet: permission is refused with a description and every notification
// fails, so nothing is reported as shown that was not. The delegate is kept
// but never called: no answer can come back.
#pragma once

#include "platform/user_notifications.h"

namespace dravel::linux_platform {

class UnavailableNotificationCenter : public UserNotificationCenter {
 public:
  void setDelegate(UserNotificationCenterDelegate* delegate) override { delegate_ = delegate; }
  UserNotificationCenterDelegate* delegate() const override { return delegate_; }
  // Both answer on a later turn of the main queue.
  void requestAuthorizationWithOptions(int, AuthorizationCompletion completion) override;
  void addNotificationRequest(NotificationRequest, AddCompletion completion) override;

 private:
  static constexpr const char* kUnavailable = "Notifications are not available on this desktop.";
  UserNotificationCenterDelegate* delegate_ = nullptr;
};

}  // namespace dravel::linux_platform
