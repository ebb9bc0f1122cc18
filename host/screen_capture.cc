// The screen capture pipeline: one "captureScreen" call becomes one reply with
// the pixels of a whole screen and its geometry.
#include <cmath>
#include <limits>
#include <new>
#include <stdexcept>

#include "channels/log.h"
#include "channels/main_queue.h"
#include "host/capture_handler.h"
#include "host/displays.h"
#include "host/main_flutter_window.h"
#include "platform/platform.h"

namespace dravel {
namespace {

// The screenshot service is used from this system version on.
constexpr OperatingSystemVersion kScreenshotServiceVersion{14, 0, 0};

// The largest raw-bytes value a channel message can carry (its length is
// written in 32 bits): a bigger payload could never reach the interface.
constexpr int64_t kMaxPayloadBytes = 0xFFFFFFFF;

using CaptureCompletion =
    std::function<void(CapturedImagePtr image, std::optional<std::string> message)>;

// What one capture carries from the call to its reply.
struct CaptureContext {
  FlutterResult result;
  double t0 = 0;
  ScreenPtr screen;
  uint32_t displayID = 0;
};

// Points times scale, truncated toward zero; sizes that are not finite,
// negative or absurd give zero rather than an undefined conversion.
int64_t pixelLength(double points, double scale) {
  const double pixels = std::trunc(points * scale);
  if (!std::isfinite(pixels) || pixels <= 0) return 0;
  if (pixels >= 9.0e15) return static_cast<int64_t>(9.0e15);
  return static_cast<int64_t>(pixels);
}

void captureWithScreenCaptureKit(uint32_t displayID, double scale, Size size,
                                 std::optional<int64_t> excludeWindow,
                                 CaptureCompletion completion) {
  ScreenCapture* engine = &platform().screenCapture();
  engine->getShareableContent(
      false, true,
      [engine, displayID, scale, size, excludeWindow, completion = std::move(completion)](
          std::optional<ShareableContent> content, std::optional<std::string> error) {
        const ShareableDisplay* display = nullptr;
        if (content) {
          for (const ShareableDisplay& candidate : content->displays) {
            if (candidate.displayID == displayID) {
              display = &candidate;
              break;
            }
          }
        }
        if (!display) {
          completion(nullptr, error.value_or("display not shareable"));
          return;
        }
        ContentFilter filter;
        filter.display = *display;
        if (excludeWindow) {
          for (const ShareableWindow& window : content->windows) {
            if (static_cast<int64_t>(window.windowID) == *excludeWindow) {
              filter.excludedWindows.push_back(window);
            }
          }
        }
        StreamConfiguration configuration;
        configuration.width = pixelLength(size.width, scale);
        configuration.height = pixelLength(size.height, scale);
        configuration.showsCursor = false;
        configuration.captureResolution = kCaptureResolutionBest;
        configuration.pixelFormat = kPixelFormatBGRA;
        engine->captureImage(filter, configuration,
                             [completion](CapturedImagePtr image, std::optional<std::string> e) {
                               completion(std::move(image), std::move(e));
                             });
      });
}

// The window-server route, synchronous. The window-list image takes its
// rectangle in global top-left space, so the screen's frame is flipped at
// the primary screen's top edge.
void captureWithWindowServer(const Screen& screen, uint32_t displayID,
                             std::optional<int64_t> excludeWindow, CaptureCompletion completion) {
  ScreenCapture& engine = platform().screenCapture();
  CapturedImagePtr image;
  if (!excludeWindow) {
    image = engine.displayCreateImage(displayID);
  } else {
    const Rect frame = screen.frame();
    const std::vector<ScreenPtr> screens = platform().screens().screens();
    const double primaryTop =
        screens.empty() || !screens.front() ? frame.maxY() : screens.front()->frame().maxY();
    const Rect bounds{frame.x, primaryTop - frame.maxY(), frame.width, frame.height};
    image = engine.windowListCreateImage(bounds, kWindowListOptionOnScreenBelowWindow,
                                         static_cast<uint32_t>(*excludeWindow),
                                         kWindowImageBestResolution);
  }
  completion(std::move(image), std::nullopt);
}

// On the main thread, a later turn after the capture completed.
void answerCapture(const CaptureContext& context, const CapturedImagePtr& image,
                   const std::optional<std::string>& message) {
  if (!image) {
    context.result(FlutterError::errorWithCode("capture_failed", message.value_or("no image")));
    return;
  }
  PixelPayload payload = CaptureHandler::bgraBytes(*image);
  if (!payload.bytes) {
    context.result(FlutterError::errorWithCode("capture_failed", "image too large"));
    return;
  }
  const double elapsedMs = (mainQueue().now() - context.t0) * 1000.0;
  NSLog("[Capture] %dx%d in %.0f ms", static_cast<int>(payload.width),
        static_cast<int>(payload.height), elapsedMs);
  ValueMap reply = CaptureHandler::geometry(*context.screen, context.displayID);
  reply.set("width", Value(payload.width));
  reply.set("height", Value(payload.height));
  reply.set("bytes", Value(std::move(payload.bytes)));
  context.result(Value(std::move(reply)));
}

}  // namespace

void CaptureHandler::captureScreen(ScreenPtr screen, FlutterResult result) {
  std::optional<uint32_t> id = screen ? displayID(*screen) : std::nullopt;
  if (!id) {
    result(FlutterError::errorWithCode("no_screen"));
    return;
  }
  auto context = std::make_shared<CaptureContext>();
  context->t0 = mainQueue().now();

  std::optional<int64_t> excludeWindow;
  if (auto w = window.lock(); w && w->overlayActive) excludeWindow = w->native().windowNumber();

  context->result = std::move(result);
  context->screen = screen;
  context->displayID = *id;
  // Every completion, from whichever thread, answers through one hop to the
  // main queue.
  CaptureCompletion completion = [context](CapturedImagePtr image,
                                           std::optional<std::string> message) {
    mainQueue().async([context, image = std::move(image), message = std::move(message)] {
      answerCapture(*context, image, message);
    });
  };

  if (platform().processInfo().isOperatingSystemAtLeastVersion(kScreenshotServiceVersion)) {
    captureWithScreenCaptureKit(*id, screen->backingScaleFactor(), screen->frame().size(),
                                excludeWindow, std::move(completion));
  } else {
    captureWithWindowServer(*screen, *id, excludeWindow, std::move(completion));
  }
}

PixelPayload CaptureHandler::bgraBytes(const CapturedImage& image) {
  PixelPayload payload;
  payload.width = image.width;
  payload.height = image.height;
  int64_t bytesPerRow = 0;
  int64_t total = 0;
  if (image.width < 0 || image.height < 0 ||
      __builtin_mul_overflow(image.width, int64_t{4}, &bytesPerRow) ||
      __builtin_mul_overflow(bytesPerRow, image.height, &total) || total > kMaxPayloadBytes) {
    return payload;
  }
  ByteBuffer buffer;
  try {
    buffer.reserve(static_cast<size_t>(total));
  } catch (const std::length_error&) {
    return payload;
  } catch (const std::bad_alloc&) {
    return payload;
  }
  std::unique_ptr<BitmapContext> context = platform().graphics().createBitmapContext(
      image.width, image.height, 8, bytesPerRow,
      kBitmapByteOrder32Little | kImageAlphaPremultipliedFirst);
  if (context) context->drawImageInto(image, buffer);
  if (buffer.size() != static_cast<size_t>(total)) {
    // No context, or nothing could be drawn: the buffer stays all zero.
    buffer.clear();
    buffer.resize(static_cast<size_t>(total));
  }
  payload.bytes = std::make_shared<const ByteBuffer>(std::move(buffer));
  return payload;
}

}  // namespace dravel
