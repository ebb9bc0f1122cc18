// The screen capture pipeline: one "captureScreen" call becomes one reply with
// the pixels of a whole screen and its geometry.
#include <algorithm>
#include <cmath>
#include <limits>
#include <map>
#include <new>
#include <stdexcept>
#include <string>
#include <variant>
#include <vector>

#include "channels/frame.h"
#include "channels/log.h"
#include "channels/main_queue.h"
#include "channels/standard_codec.h"
#include "host/capture_handler.h"
#include "host/displays.h"
#include "host/main_flutter_window.h"
#include "platform/seam/platform.h"

namespace dravel {
namespace {

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

// Captures in flight, by number; main thread only. Replies never leave the
// main thread: an engine's completion carries only the number, so a
// completion that arrives late (or never) cannot answer or drop a reply on
// another thread.
std::map<uint64_t, std::shared_ptr<CaptureContext>>& pendingCaptures() {
  static auto* const pending = new std::map<uint64_t, std::shared_ptr<CaptureContext>>();
  return *pending;
}
uint64_t gNextCapture = 1;

// Bytes the standard codec spends on the length of a raw-bytes value.
uint64_t sizeFieldLength(uint64_t n) {
  return n < 254 ? 1 : n <= 0xFFFF ? 3 : 5;
}

// The encoded size of the success reply for a capture of `width` x `height`
// pixels: the geometry map, "width" and "height", then "bytes" last, so the
// alignment of what comes before does not depend on the pixels.
uint64_t captureReplySize(const ValueMap& geometry, int64_t width, int64_t height) {
  ValueMap reply = geometry;
  reply.set("width", Value(width));
  reply.set("height", Value(height));
  reply.set("bytes", Value(ByteBuffer{}));
  const uint64_t rest = StandardMethodCodec::encodeSuccessEnvelope(Value(std::move(reply))).size();
  const uint64_t pixels = static_cast<uint64_t>(width) * static_cast<uint64_t>(height) * 4;
  return rest - sizeFieldLength(0) + sizeFieldLength(pixels) + pixels;
}

// Why a capture of this size cannot be answered, or nothing when it can: its
// reply must fit the one frame limit both ends of the socket enforce.
std::optional<std::string> replyTooLarge(const ValueMap& geometry, int64_t width, int64_t height) {
  // Beyond 2^31 pixels a side no reply could fit; this also keeps the
  // products below from overflowing.
  if (width > (int64_t{1} << 31) || height > (int64_t{1} << 31)) {
    return "image too large: " + std::to_string(width) + " x " + std::to_string(height) +
           " pixels cannot be sent";
  }
  const uint64_t size = captureReplySize(geometry, width, height);
  if (size <= kMaxReplyPayloadSize) return std::nullopt;
  return "image too large: " + std::to_string(width) + " x " + std::to_string(height) +
         " pixels make a reply of " + std::to_string(size) + " bytes, over the " +
         std::to_string(kMaxReplyPayloadSize) + " a reply can carry";
}

// Points times scale, truncated toward zero. A length that is not a finite
// positive number (NaN, infinite, zero or negative) reads as 0, and an
// absurdly large one is held at 9.0e15 pixels, so the conversion to an
// integer is always defined; either way the image-size checks refuse it.
int64_t pixelLength(double points, double scale) {
  const double pixels = std::trunc(points * scale);
  if (!std::isfinite(pixels) || pixels <= 0) return 0;
  if (pixels >= 9.0e15) return static_cast<int64_t>(9.0e15);
  return static_cast<int64_t>(pixels);
}

// Asks the engine for the display's image, leaving out the window to exclude.
void requestImage(ScreenCapture& engine, const ShareableContent& content,
                  const ShareableDisplay& display, double scale, Size size,
                  std::optional<int64_t> excludeWindow, const std::shared_ptr<Requester>& requester,
                  const CaptureCompletion& completion) {
  ContentFilter filter;
  filter.display = display;
  if (excludeWindow) {
    for (const ShareableWindow& window : content.windows) {
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
  // The engine drops the rendering once the caller has gone.
  configuration.cancelled = [requester] { return requester->gone(); };
  engine.captureImage(filter, configuration,
                      [completion](CapturedImagePtr image, std::optional<std::string> e) {
                        completion(std::move(image), std::move(e));
                      });
}

void captureWithScreenCaptureKit(uint32_t displayID, double scale, Size size,
                                 std::optional<int64_t> excludeWindow,
                                 std::shared_ptr<Requester> requester,
                                 CaptureCompletion completion) {
  ScreenCapture* engine = &platform().screenCapture();
  engine->getShareableContent(
      false, true,
      [engine, displayID, scale, size, excludeWindow, requester = std::move(requester),
       completion = std::move(completion)](std::optional<ShareableContent> content,
                                           std::optional<std::string> error) {
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
        // Out of memory while asking for the image, the capture fails rather
        // than leave its caller waiting.
        try {
          requestImage(*engine, *content, *display, scale, size, excludeWindow, requester,
                       completion);
        } catch (const std::bad_alloc&) {
          completion(nullptr, std::string("Out of memory."));
        }
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
void answerCapture(uint64_t number, const CapturedImagePtr& image,
                   const std::optional<std::string>& message) {
  auto found = pendingCaptures().find(number);
  if (found == pendingCaptures().end()) return;
  const std::shared_ptr<CaptureContext> context = std::move(found->second);
  pendingCaptures().erase(found);
  if (context->result.requesterGone()) {
    // Nobody will read it: no conversion, and no reply sent anywhere.
    context->result(FlutterError::errorWithCode("capture_failed", "the caller has gone"));
    return;
  }
  if (!image) {
    context->result(FlutterError::errorWithCode("capture_failed", message.value_or("no image")));
    return;
  }
  ValueMap reply = CaptureHandler::geometry(*context->screen, context->displayID);
  if (image->width > 0 && image->height > 0) {
    if (auto why = replyTooLarge(reply, image->width, image->height)) {
      context->result(FlutterError::errorWithCode("capture_failed", *why));
      return;
    }
  }
  PixelPayload payload = CaptureHandler::bgraBytes(image);
  if (!payload.bytes) {
    // Past the size check above, only memory for the payload can be missing.
    context->result(FlutterError::errorWithCode("capture_failed",
                                                "image too large: no memory for the pixels of " +
                                                    std::to_string(image->width) + " x " +
                                                    std::to_string(image->height)));
    return;
  }
  const double elapsedMs = (mainQueue().now() - context->t0) * 1000.0;
  NSLog("[Capture] %dx%d in %.0f ms", static_cast<int>(payload.width),
        static_cast<int>(payload.height), elapsedMs);
  reply.set("width", Value(payload.width));
  reply.set("height", Value(payload.height));
  reply.set("bytes", Value(std::move(payload.bytes)));
  context->result(Value(std::move(reply)));
}

}  // namespace

void CaptureHandler::captureScreen(ScreenPtr screen, FlutterResult result) {
  std::optional<uint32_t> id = screen ? displayID(*screen) : std::nullopt;
  if (!id) {
    result(FlutterError::errorWithCode("no_screen"));
    return;
  }
  if (result.requesterGone()) {
    // The connection closed before its call was served: nothing is drawn.
    result(FlutterError::errorWithCode("capture_failed", "the caller has gone"));
    return;
  }
  // The reply must fit a frame: refused before anything is drawn.
  const double scale = screen->backingScaleFactor();
  const Size size = screen->frame().size();
  if (auto why = replyTooLarge(geometry(*screen, *id), pixelLength(size.width, scale),
                               pixelLength(size.height, scale))) {
    result(FlutterError::errorWithCode("capture_failed", *why));
    return;
  }
  auto context = std::make_shared<CaptureContext>();
  context->t0 = mainQueue().now();

  std::optional<int64_t> excludeWindow;
  if (auto w = window.lock(); w && w->overlayActive) excludeWindow = w->native().windowNumber();

  std::shared_ptr<Requester> requester = result.requester();
  context->result = std::move(result);
  context->screen = screen;
  context->displayID = *id;
  const uint64_t number = gNextCapture++;
  pendingCaptures()[number] = context;
  // Every completion, from whichever thread, answers through one hop to the
  // main queue.
  CaptureCompletion completion = [number](CapturedImagePtr image,
                                          std::optional<std::string> message) {
    try {
      mainQueue().async([number, image = std::move(image), message = std::move(message)] {
        answerCapture(number, image, message);
      });
    } catch (const std::bad_alloc&) {
      // Out of memory the capture still gets its answer: a smaller hop.
      image.reset();
      mainQueue().async(
          [number] { answerCapture(number, nullptr, std::string("Out of memory.")); });
    }
  };

  if (platform().screenCapture().screenshotServiceAvailable()) {
    captureWithScreenCaptureKit(*id, scale, size, excludeWindow, std::move(requester),
                                std::move(completion));
  } else {
    captureWithWindowServer(*screen, *id, excludeWindow, std::move(completion));
  }
}

size_t CaptureHandler::expectedReplyBytes(std::span<const uint8_t> message) {
  // Only a call naming the method is decoded: others on the channel (a PNG
  // to copy) can be large, and are not worth decoding twice.
  const std::vector<uint8_t> method =
      StandardMessageCodec::encode(Value("captureScreen")).flatten();
  if (message.size() < method.size() || !std::equal(method.begin(), method.end(), message.begin()))
    return 0;
  auto decoded = StandardMethodCodec::decodeMethodCall(message);
  const auto* call = std::get_if<FlutterMethodCall>(&decoded);
  if (!call) return 0;
  ScreenPtr screen = selectScreen(call->arguments.argumentsOrEmpty().intAt("displayId"));
  std::optional<uint32_t> id = screen ? displayID(*screen) : std::nullopt;
  if (!id) return 0;
  const double scale = screen->backingScaleFactor();
  const Size size = screen->frame().size();
  const int64_t width = pixelLength(size.width, scale);
  const int64_t height = pixelLength(size.height, scale);
  const ValueMap map = geometry(*screen, *id);
  if (replyTooLarge(map, width, height)) return 0;
  return captureReplySize(map, width, height);
}

PixelPayload CaptureHandler::bgraBytes(const CapturedImagePtr& image) {
  if (image && image->format == PixelFormat::kBGRAPremultiplied && image->width > 0 &&
      image->height > 0 && image->bytesPerRow == image->width * 4 && image->isWellFormed() &&
      image->pixels.size() == static_cast<size_t>(image->bytesPerRow * image->height) &&
      image->pixels.size() <= static_cast<size_t>(kMaxPayloadBytes)) {
    PixelPayload payload;
    payload.width = image->width;
    payload.height = image->height;
    payload.bytes = Bytes(image, std::span<const uint8_t>(image->pixels));
    return payload;
  }
  return image ? bgraBytes(*image) : PixelPayload{};
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
  if (!canAllocate(static_cast<size_t>(total))) return payload;
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
