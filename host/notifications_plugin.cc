#include "host/notifications_plugin.h"

#include "channels/log.h"
#include "channels/main_queue.h"
#include "platform/seam/platform.h"
#include "platform/shared/url.h"

namespace dravel {

namespace {
NotificationsPlugin* gShared = nullptr;

constexpr const char* kDefaultId = "update";
constexpr const char* kSavedId = "saved";
constexpr const char* kIdentifierPrefix = "dravel.";
}  // namespace

NotificationsPlugin& NotificationsPlugin::shared() {
  static bool made = (gShared = new NotificationsPlugin(), true);
  (void)made;
  return *gShared;
}

void NotificationsPlugin::registerWith(FlutterBinaryMessenger& messenger) {
  if (channel) return;
  channel = FlutterMethodChannel::methodChannelWithName(kNotificationsChannel, &messenger);
  // The shared instance is never released, so the handler may hold it plainly.
  NotificationsPlugin* plugin = this;
  channel->setMethodCallHandler([plugin](const FlutterMethodCall& call, FlutterResult result) {
    plugin->handle(call, std::move(result));
  });
}

void NotificationsPlugin::handle(const FlutterMethodCall& call, FlutterResult result) {
  if (call.method != "show") {
    result(FlutterMethodNotImplemented);
    return;
  }
  const Value args = call.arguments.argumentsOrEmpty();
  show(args.stringAt("title").value_or(""), args.stringAt("body").value_or(""),
       args.stringAt("id").value_or(kDefaultId), args.stringAt("payload"),
       args.boolAt("sound").value_or(true), std::move(result));
}

void NotificationsPlugin::show(std::string title, std::string body, std::string id,
                               std::optional<std::string> payload, bool sound,
                               FlutterResult result) {
  // The centre answers on threads of its own: take what those steps need now,
  // and touch nothing of the plugin there.
  UserNotificationCenter& center = platform().userNotificationCenter();
  MainQueue& queue = mainQueue();

  NotificationRequest request;
  request.identifier = kIdentifierPrefix + id;
  request.title = std::move(title);
  request.body = std::move(body);
  request.sound = sound;
  request.userInfo.set("id", Value(id));
  if (payload) request.userInfo.set("payload", Value(*payload));

  center.requestAuthorizationWithOptions(
      kNotificationAuthorizationAlert | kNotificationAuthorizationSound,
      [&center, &queue, request = std::move(request), result](
          bool granted, std::optional<NotificationError> error) mutable {
        if (error) {
          NSLog("[Notifications] authorization failed: %s", error->localizedDescription.c_str());
        }
        if (!granted) {
          NSLog("[Notifications] not authorized - quiet mode");
          queue.async([result] { result(Value(false)); });
          return;
        }
        center.addNotificationRequest(
            std::move(request), [&queue, result](std::optional<NotificationError> addError) {
              if (addError) {
                NSLog("[Notifications] add failed: %s", addError->localizedDescription.c_str());
              }
              const bool added = !addError;
              queue.async([result, added] { result(Value(added)); });
            });
      });
}

void NotificationsPlugin::willPresentNotification(const NotificationRequest&,
                                                  std::function<void(int options)> completion) {
  completion(kNotificationPresentationBanner | kNotificationPresentationList |
             kNotificationPresentationSound);
}

void NotificationsPlugin::didReceiveResponse(const NotificationResponse& response,
                                             std::function<void()> completion) {
  lastResponseAt = mainQueue().now();
  if (response.actionIdentifier != kNotificationDefaultActionIdentifier) {
    completion();
    return;
  }
  const ValueMap& userInfo = response.request.userInfo;
  const Value* idValue = userInfo.find("id");
  const Value* payloadValue = userInfo.find("payload");
  const std::string id = idValue && idValue->asString() ? *idValue->asString() : kDefaultId;
  std::optional<std::string> payload;
  if (payloadValue && payloadValue->asString()) payload = *payloadValue->asString();

  NSLog("[Notifications] clicked %s", id.c_str());

  if (id == kSavedId && payload) {
    platform().workspace().activateFileViewerSelectingURLs({fileURLWithPath(*payload)});
    completion();
    return;
  }

  ValueMap arguments{{"id", id}};
  if (payload) arguments.set("payload", Value(*payload));
  if (channel) channel->invokeMethod("clicked", Value(std::move(arguments)));
  completion();
}

void NotificationsPlugin::resetForTesting() {
  NotificationsPlugin& plugin = shared();
  plugin.lastResponseAt = -std::numeric_limits<double>::infinity();
  plugin.channel.reset();
}

}  // namespace dravel
