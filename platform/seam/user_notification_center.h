// The user notification centre: permission, delivery of notifications, and
// the delegate that hears about presentation and the user's answers.
#pragma once

#include <functional>
#include <optional>
#include <string>

#include "channels/value.h"

namespace dravel {

// Authorisation options (bit set).
enum NotificationAuthorizationOption : int {
  kNotificationAuthorizationBadge = 1 << 0,
  kNotificationAuthorizationSound = 1 << 1,
  kNotificationAuthorizationAlert = 1 << 2,
};

// How a notification is presented while the application is frontmost (bit set).
enum NotificationPresentationOption : int {
  kNotificationPresentationBadge = 1 << 0,
  kNotificationPresentationSound = 1 << 1,
  kNotificationPresentationAlert = 1 << 2,
  kNotificationPresentationList = 1 << 3,
  kNotificationPresentationBanner = 1 << 4,
};

// The action of an answer that is a click on the notification itself.
inline constexpr const char* kNotificationDefaultActionIdentifier =
    "com.apple.UNNotificationDefaultActionIdentifier";
// The action of an answer that dismissed the notification.
inline constexpr const char* kNotificationDismissActionIdentifier =
    "com.apple.UNNotificationDismissActionIdentifier";

struct NotificationError {
  std::string localizedDescription;
};

// One notification, delivered at once (no trigger).
struct NotificationRequest {
  std::string identifier;
  std::string title;
  std::string body;
  // The default notification sound; none when false.
  bool sound = false;
  // What the poster attached; handed back with the user's answer.
  ValueMap userInfo;
};

// The user's answer to a delivered notification.
struct NotificationResponse {
  std::string actionIdentifier;
  NotificationRequest request;
};

// Called by the centre on the main thread.
class UserNotificationCenterDelegate {
 public:
  virtual ~UserNotificationCenterDelegate() = default;
  // A notification arrives while the application is frontmost; `completion`
  // takes the presentation options.
  virtual void willPresentNotification(const NotificationRequest& notification,
                                       std::function<void(int options)> completion) = 0;
  // The user answered a notification; `completion` is called once the
  // delegate is done.
  virtual void didReceiveResponse(const NotificationResponse& response,
                                  std::function<void()> completion) = 0;
};

class UserNotificationCenter {
 public:
  using AuthorizationCompletion =
      std::function<void(bool granted, std::optional<NotificationError> error)>;
  using AddCompletion = std::function<void(std::optional<NotificationError> error)>;

  virtual ~UserNotificationCenter() = default;

  // The delegate is not owned; it must outlive its installation.
  virtual void setDelegate(UserNotificationCenterDelegate* delegate) = 0;
  virtual UserNotificationCenterDelegate* delegate() const = 0;

  // Asks for permission with the given options. The completion runs on a
  // thread of the centre's choosing. Safe from any thread.
  virtual void requestAuthorizationWithOptions(int options, AuthorizationCompletion completion) = 0;
  // Delivers a notification; a later request with the same identifier takes
  // the place of an earlier one. The completion runs on a thread of the
  // centre's choosing. Safe from any thread.
  virtual void addNotificationRequest(NotificationRequest request, AddCompletion completion) = 0;
};

}  // namespace dravel
