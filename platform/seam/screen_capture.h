// The capture engines: the screenshot service (asynchronous, with shareable
// content, content filters and stream configurations) and the window server's
// synchronous display and window-list images.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "platform/seam/captured_image.h"
#include "platform/seam/geometry.h"

namespace dravel {

// The pixel format code of 'BGRA'.
inline constexpr uint32_t kPixelFormatBGRA = 0x42475241;
// Capture resolution: the best the display has.
inline constexpr int kCaptureResolutionBest = 1;
// Window-list image option: the best resolution of the screens involved.
inline constexpr uint32_t kWindowImageBestResolution = 8;

// A display or window the screenshot service may capture. `handle` is the
// engine's own object behind it; callers pass it back unchanged.
struct ShareableDisplay {
  uint32_t displayID = 0;
  std::shared_ptr<const void> handle;
};
struct ShareableWindow {
  uint32_t windowID = 0;
};
struct ShareableContent {
  std::vector<ShareableDisplay> displays;
  std::vector<ShareableWindow> windows;
};

// One display minus the listed windows.
struct ContentFilter {
  ShareableDisplay display;
  std::vector<ShareableWindow> excludedWindows;
};

struct StreamConfiguration {
  int64_t width = 0;   // pixels
  int64_t height = 0;  // pixels
  bool showsCursor = true;
  int captureResolution = 0;
  uint32_t pixelFormat = 0;
  // Polled by the engine, from its own thread, before and while it renders:
  // once it holds, nobody will read the image, and the engine stops and
  // answers with an error instead. Null: never.
  std::function<bool()> cancelled;
};

class ScreenCapture {
 public:
  using ContentHandler = std::function<void(std::optional<ShareableContent> content,
                                            std::optional<std::string> error)>;
  using ImageHandler =
      std::function<void(CapturedImagePtr image, std::optional<std::string> error)>;

  virtual ~ScreenCapture() = default;

  // Whether the screenshot service below can be used on this system; when it
  // cannot, captures take the window server's synchronous route.
  virtual bool screenshotServiceAvailable() = 0;

  // Screenshot service. Both call their handler exactly once, on a thread of
  // the engine's choosing; an error is its localized description.
  virtual void getShareableContent(bool excludeDesktopWindows, bool onScreenWindowsOnly,
                                   ContentHandler handler) = 0;
  virtual void captureImage(const ContentFilter& filter, const StreamConfiguration& configuration,
                            ImageHandler handler) = 0;

  // Window server, synchronous. The whole display, or none.
  virtual CapturedImagePtr displayCreateImage(uint32_t displayID) = 0;
  // The on-screen windows the list option selects relative to `windowID`,
  // within `bounds` (global top-left points), or none.
  virtual CapturedImagePtr windowListCreateImage(const Rect& bounds, uint32_t listOption,
                                                 uint32_t windowID, uint32_t imageOption) = 0;

  // Main thread, when nobody is connected: lets go of the memory the engine
  // keeps between captures to make the next one quicker.
  virtual void releaseIdleMemory() {}
};

}  // namespace dravel
