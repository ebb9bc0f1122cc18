#include "host/sparkle_updater_plugin.h"

#include "channels/log.h"
#include "platform/seam/platform.h"

namespace dravel {

std::set<std::string> SparkleChannelDelegate::allowedChannelsForUpdater(Updater&) {
  if (betaEnabled) return {"beta"};
  return {};
}

SparkleUpdaterPlugin::SparkleUpdaterPlugin()
    : self_(std::make_shared<SparkleUpdaterPlugin*>(this)) {}
SparkleUpdaterPlugin::~SparkleUpdaterPlugin() = default;

void SparkleUpdaterPlugin::start() {
  UpdateFramework& framework = platform().updateFramework();
  std::unique_ptr<UpdaterController> made;
  auto delegate = std::make_shared<SparkleChannelDelegate>();
  if (framework.classNamed(kStandardUpdaterControllerClass)) {
    made = framework.makeStandardUpdaterController(false, delegate);
  }
  if (!made) {
    if (const std::string from = framework.updatesComeFrom(); !from.empty()) {
      NSLog("[updates] from %s - in-app update off", from.c_str());
    } else {
      NSLog("[Sparkle] framework not bundled (App Store build) - in-app update off");
    }
    return;
  }
  std::string error;
  if (!made->updater().startUpdater(error)) {
    NSLog("[Sparkle] updater.start failed: %s - in-app update off", error.c_str());
    return;
  }
  controller = std::move(made);
  channelDelegate = std::move(delegate);
  const std::optional<std::string> feed = controller->updater().feedURL();
  NSLog("[Sparkle] updater started, feed=%s", feed ? feed->c_str() : "nil");
}

bool SparkleUpdaterPlugin::available() const {
  return controller && controller->updater().canCheckForUpdates();
}

void SparkleUpdaterPlugin::registerWith(FlutterBinaryMessenger& messenger) {
  if (channel) return;
  channel = FlutterMethodChannel::methodChannelWithName(kUpdaterChannel, &messenger);
  std::weak_ptr<SparkleUpdaterPlugin*> weak = self_;
  channel->setMethodCallHandler([weak](const FlutterMethodCall& call, FlutterResult result) {
    if (auto self = weak.lock()) (*self)->handle(call, std::move(result));
  });
  const bool elsewhere = !platform().updateFramework().updatesComeFrom().empty();
  NSLog("[%s] channel registered, available=%d", elsewhere ? "updates" : "Sparkle",
        available() ? 1 : 0);
}

void SparkleUpdaterPlugin::handle(const FlutterMethodCall& call, FlutterResult result) {
  if (call.method == "isAvailable") {
    result(Value(available()));
  } else if (call.method == "checkForUpdates") {
    if (!available()) {
      result(FlutterError::errorWithCode("unavailable", "Sparkle updater is not available"));
      return;
    }
    platform().application().activateIgnoringOtherApps(true);
    controller->checkForUpdates();
    result(nullptr);
  } else if (call.method == "setBetaChannel") {
    // The arguments themselves are the flag, not a map.
    const bool enabled = call.arguments.asBool().value_or(false);
    if (channelDelegate) channelDelegate->betaEnabled = enabled;
    result(nullptr);
  } else {
    result(FlutterMethodNotImplemented);
  }
}

}  // namespace dravel
