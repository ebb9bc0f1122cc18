// Registration of the host's own channels: "dravel/capture" and "dravel/autostart".
#pragma once

#include <memory>

#include "channels/binary_messenger.h"
#include "channels/flutter_result.h"
#include "channels/method_call.h"

namespace dravel {

class MainFlutterWindow;

inline constexpr const char* kCaptureChannel = "dravel/capture";
inline constexpr const char* kAutostartChannel = "dravel/autostart";

namespace DravelPlugin {
// Sets the capture handler's window, installs the handlers of both channels
// (they stay in force without the channel objects), then the diagonal cursors.
void registerWith(FlutterBinaryMessenger& messenger, std::weak_ptr<MainFlutterWindow> window);
// The "dravel/autostart" channel: the login item of the application.
void handleAutostart(const FlutterMethodCall& call, FlutterResult result);
}  // namespace DravelPlugin

}  // namespace dravel
