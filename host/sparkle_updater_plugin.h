// The "brindle/sparkle_updater" channel: in-app updates through the update
// framework, when the build carries it.
#pragma once

#include <memory>
#include <set>
#include <string>

#include "channels/binary_messenger.h"
#include "channels/flutter_result.h"
#include "channels/method_channel.h"
#include "platform/seam/update_framework.h"

namespace dravel {

inline constexpr const char* kUpdaterChannel = "brindle/sparkle_updater";

// Tells the framework which update channels it may use besides the default.
class SparkleChannelDelegate : public UpdaterDelegate {
 public:
  std::set<std::string> allowedChannelsForUpdater(Updater& updater) override;

  // In memory only: every launch starts with the beta channel off.
  bool betaEnabled = false;
};

class SparkleUpdaterPlugin {
 public:
  SparkleUpdaterPlugin();
  ~SparkleUpdaterPlugin();
  SparkleUpdaterPlugin(const SparkleUpdaterPlugin&) = delete;
  SparkleUpdaterPlugin& operator=(const SparkleUpdaterPlugin&) = delete;

  // Looks up the update framework and starts its updater. Once per process.
  void start();
  // Installs the channel's handler on the messenger, once.
  void registerWith(FlutterBinaryMessenger& messenger);

  // Whether a check can be made now: the updater started and can check.
  bool available() const;

  // Present only after a successful start.
  std::unique_ptr<UpdaterController> controller;
  std::shared_ptr<FlutterMethodChannel> channel;
  // Present only after a successful start.
  std::shared_ptr<SparkleChannelDelegate> channelDelegate;

 private:
  void handle(const FlutterMethodCall& call, FlutterResult result);
  // The channel's handler holds the plugin through this, weakly.
  std::shared_ptr<SparkleUpdaterPlugin*> self_;
};

}  // namespace dravel
