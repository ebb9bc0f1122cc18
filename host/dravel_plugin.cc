#include "host/dravel_plugin.h"

#include "channels/method_channel.h"
#include "host/capture_handler.h"
#include "host/mouse_cursors.h"

namespace dravel::DravelPlugin {

void registerWith(FlutterBinaryMessenger& messenger, std::weak_ptr<MainFlutterWindow> window) {
  CaptureHandler& handler = CaptureHandler::shared();
  handler.window = std::move(window);

  FlutterMethodChannel::methodChannelWithName(kCaptureChannel, &messenger)
      ->setMethodCallHandler([&handler](const FlutterMethodCall& call, FlutterResult result) {
        handler.handle(call, std::move(result));
      });
  FlutterMethodChannel::methodChannelWithName(kAutostartChannel, &messenger)
      ->setMethodCallHandler([](const FlutterMethodCall& call, FlutterResult result) {
        handleAutostart(call, std::move(result));
      });

  MouseCursors::install();
}

}  // namespace dravel::DravelPlugin
