// The "dravel/notifications" channel and the notification centre's delegate.
#pragma once

#include <limits>
#include <memory>

#include "channels/binary_messenger.h"
#include "channels/method_channel.h"

namespace dravel {

inline constexpr const char* kNotificationsChannel = "dravel/notifications";

class NotificationsPlugin {
 public:
  static NotificationsPlugin& shared();

  // Installs the channel's handler on the messenger.
  void registerWith(FlutterBinaryMessenger& messenger);

  // When the user last answered a notification, on the main queue's clock;
  // the distant past before any answer.
  double lastResponseAt = -std::numeric_limits<double>::infinity();

  std::shared_ptr<FlutterMethodChannel> channel;

  // Returns the shared instance to its state at creation.
  static void resetForTesting();

 private:
  NotificationsPlugin() = default;
};

}  // namespace dravel
