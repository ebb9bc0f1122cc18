// The simulated capture engines: both routes render the simulated screens
// (background, then the listed windows back to front, the host's main window
// among them while it is on screen) with Cairo. The screenshot service runs
// its handlers on a worker thread of its own, as the real one does; each way
// the engines can fail is a switch.
#pragma once

#include <atomic>
#include <functional>
#include <mutex>
#include <optional>
#include <set>
#include <string>
#include <vector>

#include "platform/shared/engine_worker.h"
#include "platform/seam/screen_capture.h"
#include "platform/sim/sim_render.h"

namespace dravel::sim {

class SimDesktop;

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

  // The simulated system has the service from version 14 on.
  bool screenshotServiceAvailable() override;
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

  SimDesktop& desktop_;
  mutable std::mutex mutex_;  // guards requests_
  std::vector<Request> requests_;
  std::atomic<size_t> cancelled_{0};
  // Last: it goes first, while what its tasks use is still there. A
  // rendering in progress stops at its next band once it is stopping.
  EngineWorker worker_;
};

}  // namespace dravel::sim
