#include "host/capture_handler.h"
#include "host/displays.h"

namespace dravel {

// Capture engines are not part of the platform yet.
void CaptureHandler::captureScreen(ScreenPtr screen, FlutterResult result) {
  if (!screen || !displayID(*screen)) {
    result(FlutterError::errorWithCode("no_screen"));
    return;
  }
  result(FlutterError::errorWithCode("capture_failed", "no image"));
}

}  // namespace dravel
