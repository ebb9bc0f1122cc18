#include "host/notifications_plugin.h"

namespace dravel {

namespace {
NotificationsPlugin* gShared = nullptr;
}

NotificationsPlugin& NotificationsPlugin::shared() {
  static bool made = (gShared = new NotificationsPlugin(), true);
  (void)made;
  return *gShared;
}

void NotificationsPlugin::registerWith(FlutterBinaryMessenger& messenger) {
  channel = FlutterMethodChannel::methodChannelWithName(kNotificationsChannel, &messenger);
}

void NotificationsPlugin::resetForTesting() {
  NotificationsPlugin& plugin = shared();
  plugin.lastResponseAt = -std::numeric_limits<double>::infinity();
  plugin.channel.reset();
}

}  // namespace dravel
