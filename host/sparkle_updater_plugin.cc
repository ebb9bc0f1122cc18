#include "host/sparkle_updater_plugin.h"

namespace dravel {

SparkleUpdaterPlugin::SparkleUpdaterPlugin() = default;
SparkleUpdaterPlugin::~SparkleUpdaterPlugin() = default;

// The update framework is not part of the platform yet.
void SparkleUpdaterPlugin::start() {}

void SparkleUpdaterPlugin::registerWith(FlutterBinaryMessenger& messenger) {
  channel = FlutterMethodChannel::methodChannelWithName(kUpdaterChannel, &messenger);
}

}  // namespace dravel
