#include "platform/linux/linux_user_notifications.h"

#include "channels/main_queue.h"

namespace dravel::linux_platform {

void UnavailableNotificationCenter::requestAuthorizationWithOptions(
    int, AuthorizationCompletion completion) {
  mainQueue().async(
      [completion = std::move(completion)] { completion(false, NotificationError{kUnavailable}); });
}

void UnavailableNotificationCenter::addNotificationRequest(NotificationRequest,
                                                           AddCompletion completion) {
  mainQueue().async(
      [completion = std::move(completion)] { completion(NotificationError{kUnavailable}); });
}

}  // namespace dravel::linux_platform
