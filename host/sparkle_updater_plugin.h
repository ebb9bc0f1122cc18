// The "brindle/sparkle_updater" channel: in-app updates.
#pragma once

#include <memory>

#include "channels/binary_messenger.h"
#include "channels/method_channel.h"

namespace dravel {

inline constexpr const char* kUpdaterChannel = "brindle/sparkle_updater";

class SparkleUpdaterPlugin {
 public:
  SparkleUpdaterPlugin();
  ~SparkleUpdaterPlugin();

  // Looks up the update framework and starts its updater.
  void start();
  // Installs the channel's handler on the messenger.
  void registerWith(FlutterBinaryMessenger& messenger);

  std::shared_ptr<FlutterMethodChannel> channel;
};

}  // namespace dravel
