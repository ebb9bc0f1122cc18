#include "channels/flutter_result.h"
#include "host/dravel_plugin.h"
#include "platform/seam/platform.h"

namespace dravel::DravelPlugin {

void handleAutostart(const FlutterMethodCall& call, FlutterResult result) {
  LoginItem& loginItem = platform().loginItem();
  if (call.method == "isEnabled") {
    result(Value(loginItem.status() == kLoginItemEnabled));
    return;
  }
  if (call.method == "setEnabled") {
    // Only a boolean true enables; anything else, missing arguments included, disables.
    const bool enable = call.arguments.argumentsOrEmpty().boolAt("enabled") == true;
    std::optional<std::string> failure =
        enable ? loginItem.registerService() : loginItem.unregisterService();
    if (failure) {
      result(FlutterError::errorWithCode("autostart_failed", std::move(*failure)));
      return;
    }
    result(Value());
    return;
  }
  result(FlutterMethodNotImplemented);
}

}  // namespace dravel::DravelPlugin
