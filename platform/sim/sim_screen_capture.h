// The simulated capture engines: both routes render the simulated screens
// (background, then the listed windows back to front, the host's main window
// among them while it is on screen) with Cairo. The screenshot service runs
// its handlers on a worker thread of its own, as the real one does; each way
// the engines can fail is a switch.
#pragma once

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

// Renders `region` (global top-left points) at `width` x `height` pixels, with
// the windows for which `include(index)` holds, in the given layout. Rows are
// padded as a real engine pads them.
CapturedImagePtr renderScene(const Scene& scene, const Rect& region, int64_t width, int64_t height,
                             const std::function<bool(size_t)>& include, PixelFormat format);

// The last few renderings, reused while nothing they show has changed: a
// real engine hands out the compositor's finished frame instead of drawing
// the desktop anew for every capture. Safe to use from any thread.
class RenderCache {
 public:
  static constexpr size_t kCapacity = 2;

  // The rendering of `scene` as renderScene makes it, drawn only when no kept
  // one has the same scene, region, size, included windows and layout.
  CapturedImagePtr render(const Scene& scene, const Rect& region, int64_t width, int64_t height,
                          const std::function<bool(size_t)>& include, PixelFormat format);
  // How many renderings were drawn rather than reused.
  size_t drawn() const;
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
  bool stopping_ = false;
  std::thread worker_;
};

}  // namespace dravel::sim
