// The simulated capture engines: both routes render the simulated screens
// (background, then the listed windows back to front, the host's main window
// among them while it is on screen) with Cairo. The screenshot service runs
// its handlers on a worker thread of its own, as the real one does; each way
// the engines can fail is a switch.
#pragma once

#include <atomic>
#include <condition_variable>
#include <deque>
#include <functional>
#include <mutex>
#include <optional>
#include <set>
#include <string>
#include <thread>
#include <vector>

#include "platform/screen_capture.h"

namespace dravel::sim {

class SimDesktop;

// Everything a rendering needs, copied from the desktop on the main thread so
// that the worker never reads live state.
struct Scene {
  struct Screen {
    std::optional<uint32_t> displayId;
    Rect frame;  // global bottom-left points
    double scale = 1;
    bool operator==(const Screen&) const = default;
  };
  struct Window {
    std::optional<uint32_t> number;
    Rect bounds;  // global top-left points
    double alpha = 1;
    std::string title;
    uint32_t fill = 0xB0B4BA;  // 0xRRGGBB
    bool operator==(const Window&) const = default;
  };
  std::vector<Screen> screens;
  std::vector<Window> windows;  // front to back
  double primaryTop = 0;        // top edge of the primary screen

  bool operator==(const Scene&) const = default;

  static Scene of(SimDesktop& desktop);
  // A screen's rectangle in global top-left space.
  Rect topLeft(const Screen& screen) const;
};

// How a rendering may end early, and why it made no image.
struct RenderControl {
  // Polled between bands of rows and between windows; once it holds, the
  // rendering stops and makes no image. Null: never.
  std::function<bool()> cancelled;
  // When no image comes, why (when given).
  std::string* failure = nullptr;
};

// Renders `region` (global top-left points) at `width` x `height` pixels, with
// the windows for which `include(index)` holds, in the given layout. Rows are
// padded as a real engine pads them. The image is drawn in bands of about
// kRenderBandBytes, so that a cancellation is seen soon and the scratch
// surfaces of translucent windows stay small. None when the size is not
// valid, when memory for the image cannot be had (allocation failure is an
// answer here, never an exception), or when cancelled.
inline constexpr int64_t kRenderBandBytes = int64_t{16} << 20;
// Window titles drawn beyond a window's right edge are not laid out at all.
CapturedImagePtr renderScene(const Scene& scene, const Rect& region, int64_t width, int64_t height,
                             const std::function<bool(size_t)>& include, PixelFormat format,
                             const RenderControl& control = {});

// The last few renderings, reused while nothing they show has changed: a
// real engine hands out the compositor's finished frame instead of drawing
// the desktop anew for every capture. Safe to use from any thread.
//
// The cache holds at most kCapacity renderings and at most kMaxBytes of
// pixels: the least recently used go first, and a rendering larger than
// kMaxBytes is handed out but never kept.
class RenderCache {
 public:
  static constexpr size_t kCapacity = 2;
  static constexpr size_t kMaxBytes = size_t{160} << 20;

  // The rendering of `scene` as renderScene makes it, drawn only when no kept
  // one has the same scene, region, size, included windows and layout.
  CapturedImagePtr render(const Scene& scene, const Rect& region, int64_t width, int64_t height,
                          const std::function<bool(size_t)>& include, PixelFormat format,
                          const RenderControl& control = {});
  // How many renderings were drawn rather than reused (cancelled and failed
  // ones included).
  size_t drawn() const;
  // Bytes of pixels kept now.
  size_t bytes() const;
  size_t entries() const;
  void clear();

 private:
  struct Entry {
    Scene scene;
    Rect region;
    int64_t width = 0;
    int64_t height = 0;
    std::vector<bool> included;
    PixelFormat format = PixelFormat::kBGRAPremultiplied;
    CapturedImagePtr image;
  };
  mutable std::mutex mutex_;
  std::vector<Entry> entries_;  // most recently used last
  size_t bytes_ = 0;
  size_t drawn_ = 0;
};

class SimScreenCapture : public ScreenCapture {
 public:
  // Failure switches and choices, read when a capture starts.
  struct Behaviour {
    // Shareable content fails with this description.
    std::optional<std::string> shareableContentError;
    // Shareable content comes back with neither content nor error.
    bool shareableContentGivesNothing = false;
    // Displays left out of the shareable content.
    std::set<uint32_t> unshareableDisplays;
    // The screenshot fails with this description.
    std::optional<std::string> screenshotError;
    // The screenshot comes back with neither image nor error.
    bool screenshotGivesNothing = false;
    // The screenshot comes with its image and also this error description.
    std::optional<std::string> screenshotWarning;
    // The display and window-list images give none.
    bool legacyGivesNothing = false;
    // The layout every engine produces, instead of its own.
    std::optional<PixelFormat> imageFormat;
  };

  // What the engines were asked, for tests.
  struct Request {
    enum class Kind { kShareableContent, kScreenshot, kDisplayImage, kWindowListImage };
    Kind kind = Kind::kShareableContent;
    bool excludeDesktopWindows = false;
    bool onScreenWindowsOnly = false;
    uint32_t displayID = 0;
    std::vector<uint32_t> excludedWindows;
    StreamConfiguration configuration;
    Rect bounds;
    uint32_t listOption = 0;
    uint32_t windowID = 0;
    uint32_t imageOption = 0;
    bool onWorkerThread = false;
  };

  explicit SimScreenCapture(SimDesktop& desktop);
  // Stops the worker without waiting for a rendering to finish: work not yet
  // started is dropped, and a rendering in progress stops at its next band
  // and is answered as cancelled.
  ~SimScreenCapture() override;
  SimScreenCapture(const SimScreenCapture&) = delete;
  SimScreenCapture& operator=(const SimScreenCapture&) = delete;

  void getShareableContent(bool excludeDesktopWindows, bool onScreenWindowsOnly,
                           ContentHandler handler) override;
  void captureImage(const ContentFilter& filter, const StreamConfiguration& configuration,
                    ImageHandler handler) override;
  CapturedImagePtr displayCreateImage(uint32_t displayID) override;
  CapturedImagePtr windowListCreateImage(const Rect& bounds, uint32_t listOption, uint32_t windowID,
                                         uint32_t imageOption) override;

  // Blocks until the worker has run everything handed to it so far.
  void waitUntilIdle();
  std::vector<Request> requests() const;
  void clearRequests();

  Behaviour behaviour;
  RenderCache renders;

  // Captures that were asked for but abandoned before or while rendering
  // because their configuration said cancelled, for tests.
  size_t cancelledCaptures() const;

 private:
  void post(std::function<void()> task);
  void record(Request request);
  void run();

  SimDesktop& desktop_;
  mutable std::mutex mutex_;
  std::condition_variable wake_;
  std::condition_variable idle_;
  std::deque<std::function<void()>> tasks_;
  std::vector<Request> requests_;
  bool busy_ = false;
  // Set when the engine goes: a rendering in progress stops at its next band.
  std::atomic<bool> stopping_{false};
  std::atomic<size_t> cancelled_{0};
  std::thread worker_;
};

}  // namespace dravel::sim
