// The handler of "dravel/capture" and the capture components it drives.
#pragma once

#include <cstdint>
#include <memory>
#include <optional>
#include <span>

#include "channels/flutter_result.h"
#include "channels/method_call.h"
#include "channels/value.h"
#include "platform/seam/captured_image.h"
#include "platform/seam/screens.h"

namespace dravel {

class MainFlutterWindow;

// A captured screen as the interface takes it: width x height x 4 bytes, top
// row first, rows without gaps, blue, green, red, alpha, premultiplied.
struct PixelPayload {
  // Null when an image of this size cannot be held in memory, or is too big
  // for a channel message.
  Bytes bytes;
  int64_t width = 0;
  int64_t height = 0;
};

class CaptureHandler {
 public:
  // The one instance, made on first use (from any thread) and never released.
  static CaptureHandler& shared();

  // The main window; read afresh on every call.
  std::weak_ptr<MainFlutterWindow> window;

  // Answers every call exactly once.
  void handle(const FlutterMethodCall& call, FlutterResult result);

  // The geometry map of a screen: its frame, scale, the display id handed in,
  // and the pointer in the screen's top-left space.
  static ValueMap geometry(const Screen& screen, uint32_t displayID);

  // Captures the whole screen and answers with its pixels and geometry.
  void captureScreen(ScreenPtr screen, FlutterResult result);

  // Main thread. The bytes that the reply to an encoded call is expected to
  // take: for "captureScreen", the pixels and geometry of the screen it
  // selects now; 0 for any other call, and for a capture that will be
  // refused. The transport counts it while the capture is made.
  static size_t expectedReplyBytes(std::span<const uint8_t> message);

  // Converts a captured image into the pixel payload: one allocation of the
  // final size, drawn into through a BGRA bitmap context; all zero when no
  // context can be made.
  static PixelPayload bgraBytes(const CapturedImage& image);
  // The same, sharing the image's own pixels (no copy, nothing done here)
  // when the engine made them in the payload's layout already.
  static PixelPayload bgraBytes(const CapturedImagePtr& image);

  // The frontmost window of the application the user works in, on its screen.
  static std::optional<ValueMap> activeWindow();

  // Main thread. Abandons the clipboard copies still being decoded: none of
  // them writes the clipboard or reaches the main queue any more, and their
  // calls are dropped. For shutdown; later copies work again.
  void abandonCopies();
  // Clipboard copies asked for and not yet answered.
  size_t copiesInFlight() const;

 private:
  CaptureHandler() = default;
  // The screen with the given display id, else the screen under the pointer.
  static ScreenPtr selectScreen(std::optional<int64_t> displayId);
  void raiseWindow();
};

}  // namespace dravel
