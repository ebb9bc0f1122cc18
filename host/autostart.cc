#include "channels/flutter_result.h"
#include "host/dravel_plugin.h"

namespace dravel::DravelPlugin {

// The login item is not part of the platform yet.
void handleAutostart(const FlutterMethodCall&, FlutterResult result) {
  result(FlutterMethodNotImplemented);
}

}  // namespace dravel::DravelPlugin
