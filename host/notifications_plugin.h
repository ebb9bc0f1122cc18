// The "dravel/notifications" channel and the notification centre's delegate.
#pragma once

#include <limits>
#include <memory>
#include <optional>
#include <string>

#include "channels/binary_messenger.h"
#include "channels/flutter_result.h"
#include "channels/method_channel.h"
#include "platform/seam/user_notification_center.h"

namespace dravel {

inline constexpr const char* kNotificationsChannel = "dravel/notifications";

class NotificationsPlugin : public UserNotificationCenterDelegate {
 public:
  // Made on first use and never released.
  static NotificationsPlugin& shared();

  // Installs the channel's handler on the messenger, once.
  void registerWith(FlutterBinaryMessenger& messenger);

  // Notifications appear, are listed and play their sound even while the
  // application is frontmost.
  void willPresentNotification(const NotificationRequest& notification,
                               std::function<void(int options)> completion) override;
  // The user answered a notification: a click on it reveals a saved file or
  // is passed to the interface as "clicked".
  void didReceiveResponse(const NotificationResponse& response,
                          std::function<void()> completion) override;

  // When the user last answered a notification, on the main queue's clock;
  // the distant past before any answer.
  double lastResponseAt = -std::numeric_limits<double>::infinity();

  std::shared_ptr<FlutterMethodChannel> channel;

  // Returns the shared instance to its state at creation.
  static void resetForTesting();

 private:
  NotificationsPlugin() = default;
  void handle(const FlutterMethodCall& call, FlutterResult result);
  void show(std::string title, std::string body, std::string id, std::optional<std::string> payload,
            bool sound, FlutterResult result);
};

}  // namespace dravel
