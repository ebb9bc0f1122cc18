#include "platform/sim/sim_screen_capture.h"

#include <algorithm>
#include <new>

#include "channels/log.h"
#include "channels/stop_request.h"
#include "platform/sim/sim_desktop.h"

namespace dravel::sim {
namespace {

struct DisplayHandle {
  std::shared_ptr<const Scene> scene;
  size_t screen = 0;
  SimScreenCapture::Behaviour behaviour;
};

}  // namespace

SimScreenCapture::SimScreenCapture(SimDesktop& desktop) : desktop_(desktop) {}

// The worker, the last member, goes first: work not yet started is dropped,
// and a rendering in progress stops at its next band.
SimScreenCapture::~SimScreenCapture() = default;

size_t SimScreenCapture::cancelledCaptures() const {
  return cancelled_.load();
}

void SimScreenCapture::post(std::function<void()> task) {
  worker_.post(std::move(task));
}

void SimScreenCapture::waitUntilIdle() {
  worker_.waitUntilIdle();
}

void SimScreenCapture::record(Request request) {
  request.onWorkerThread = worker_.isWorkerThread();
  std::lock_guard<std::mutex> lock(mutex_);
  requests_.push_back(std::move(request));
}

std::vector<SimScreenCapture::Request> SimScreenCapture::requests() const {
  std::lock_guard<std::mutex> lock(mutex_);
  return requests_;
}

void SimScreenCapture::clearRequests() {
  std::lock_guard<std::mutex> lock(mutex_);
  requests_.clear();
}

namespace {

// Short enough to need no allocation of its own.

}  // namespace

bool SimScreenCapture::screenshotServiceAvailable() {
  return desktop_.processInfo().isOperatingSystemAtLeastVersion({14, 0, 0});
}

void SimScreenCapture::getShareableContent(bool excludeDesktopWindows, bool onScreenWindowsOnly,
                                           ContentHandler handler) {
  SimScreenCaptureAccess& access = desktop_.screenCaptureAccess();
  if (access.asksBeforeCapture()) {
    // The desktop asks first; the content is what is on screen once it is answered.
    access.ask([this, excludeDesktopWindows, onScreenWindowsOnly,
                handler = std::move(handler)](bool granted) mutable {
      if (!granted) {
        handler(std::nullopt, std::string("the screen-recording permission was refused"));
        return;
      }
      getShareableContent(excludeDesktopWindows, onScreenWindowsOnly, std::move(handler));
    });
    return;
  }
  Request request;
  request.kind = Request::Kind::kShareableContent;
  request.excludeDesktopWindows = excludeDesktopWindows;
  request.onScreenWindowsOnly = onScreenWindowsOnly;
  record(request);
  // The content is what is on screen at this moment.
  auto scene = std::make_shared<const Scene>(Scene::of(desktop_));
  post([scene, behaviour = behaviour, handler = std::move(handler)] {
    answerEvenWithoutMemory(
        [&](bool& answered) {
          auto answer = [&](std::optional<ShareableContent> content,
                            std::optional<std::string> error) {
            answered = true;
            handler(std::move(content), std::move(error));
          };
          if (behaviour.shareableContentError) {
            answer(std::nullopt, behaviour.shareableContentError);
            return;
          }
          if (behaviour.shareableContentGivesNothing) {
            answer(std::nullopt, std::nullopt);
            return;
          }
          ShareableContent content;
          for (size_t i = 0; i < scene->screens.size(); ++i) {
            const auto& id = scene->screens[i].displayId;
            if (!id || behaviour.unshareableDisplays.count(*id)) continue;
            content.displays.push_back(
                {*id, std::make_shared<const DisplayHandle>(DisplayHandle{scene, i, behaviour})});
          }
          for (const Scene::Window& w : scene->windows) {
            if (w.number) content.windows.push_back({*w.number});
          }
          answer(std::move(content), std::nullopt);
        },
        [&] { handler(std::nullopt, std::string(kOutOfMemory)); });
  });
}

void SimScreenCapture::captureImage(const ContentFilter& filter,
                                    const StreamConfiguration& configuration,
                                    ImageHandler handler) {
  Request request;
  request.kind = Request::Kind::kScreenshot;
  request.displayID = filter.display.displayID;
  for (const ShareableWindow& w : filter.excludedWindows)
    request.excludedWindows.push_back(w.windowID);
  request.configuration = configuration;
  record(request);
  auto display = std::static_pointer_cast<const DisplayHandle>(filter.display.handle);
  std::set<uint32_t> excluded(request.excludedWindows.begin(), request.excludedWindows.end());
  post([this, display, excluded, configuration, handler = std::move(handler)] {
    answerEvenWithoutMemory(
        [&](bool& answered) {
          auto answer = [&](CapturedImagePtr image, std::optional<std::string> error) {
            answered = true;
            handler(std::move(image), std::move(error));
          };
          if (!display) {
            answer(nullptr, std::string("The display is not valid."));
            return;
          }
          const SimScreenCapture::Behaviour& b = display->behaviour;
          if (b.screenshotError) {
            answer(nullptr, b.screenshotError);
            return;
          }
          if (b.screenshotGivesNothing) {
            answer(nullptr, std::nullopt);
            return;
          }
          // Stops when the engine goes or when whoever asked no longer wants it.
          auto cancelled = [this, &configuration] {
            return worker_.stopping() || processStopRequested() ||
                   (configuration.cancelled && configuration.cancelled());
          };
          if (cancelled()) {
            ++cancelled_;
            answer(nullptr, std::string("The capture was cancelled."));
            return;
          }
          const Scene& scene = *display->scene;
          std::string failure;
          CapturedImagePtr image;
          try {
            image = renders.render(scene, scene.topLeft(scene.screens[display->screen]),
                                   configuration.width, configuration.height,
                                   [&](size_t k) {
                                     const auto& n = scene.windows[k].number;
                                     return !n || !excluded.count(*n);
                                   },
                                   b.imageFormat.value_or(PixelFormat::kBGRAPremultiplied),
                                   {cancelled, &failure});
          } catch (const std::bad_alloc&) {
            failure = "Not enough memory to capture the display.";
          }
          if (!image) {
            if (cancelled()) ++cancelled_;
            answer(nullptr, failure.empty() ? std::string("The stream configuration is not valid.")
                                            : failure);
            return;
          }
          answer(std::move(image), b.screenshotWarning);
        },
        [&] { handler(nullptr, std::string(kOutOfMemory)); });
  });
}

namespace {

// The window server's routes draw on the caller's (main) thread: nothing but
// a stop of the whole process cancels them.
bool stopRequested() {
  return processStopRequested();
}

}  // namespace

CapturedImagePtr SimScreenCapture::displayCreateImage(uint32_t displayID) {
  Request request;
  request.kind = Request::Kind::kDisplayImage;
  request.displayID = displayID;
  record(request);
  if (behaviour.legacyGivesNothing) return nullptr;
  const Scene scene = Scene::of(desktop_);
  for (const Scene::Screen& screen : scene.screens) {
    if (screen.displayId != displayID) continue;
    try {
      return renders.render(
          scene, scene.topLeft(screen), static_cast<int64_t>(screen.frame.width * screen.scale),
          static_cast<int64_t>(screen.frame.height * screen.scale), [](size_t) { return true; },
          behaviour.imageFormat.value_or(PixelFormat::kBGRX), {stopRequested});
    } catch (const std::bad_alloc&) {
      return nullptr;  // The window server gives no image.
    }
  }
  return nullptr;
}

CapturedImagePtr SimScreenCapture::windowListCreateImage(const Rect& bounds, uint32_t listOption,
                                                         uint32_t windowID, uint32_t imageOption) {
  Request request;
  request.kind = Request::Kind::kWindowListImage;
  request.bounds = bounds;
  request.listOption = listOption;
  request.windowID = windowID;
  request.imageOption = imageOption;
  record(request);
  if (behaviour.legacyGivesNothing) return nullptr;
  const Scene scene = Scene::of(desktop_);
  // Only windows behind the given one, when asked so; all of them when the
  // given window is not on screen.
  size_t first = 0;
  if (listOption & kWindowListOptionOnScreenBelowWindow) {
    for (size_t k = 0; k < scene.windows.size(); ++k) {
      if (scene.windows[k].number == windowID) {
        first = k + 1;
        break;
      }
    }
  }
  double scale = 1.0;
  if (imageOption & kWindowImageBestResolution) {
    for (const Scene::Screen& screen : scene.screens) {
      const Rect r = scene.topLeft(screen);
      const bool overlaps = std::max(r.x, bounds.x) < std::min(r.maxX(), bounds.maxX()) &&
                            std::max(r.y, bounds.y) < std::min(r.maxY(), bounds.maxY());
      if (overlaps) scale = std::max(scale, screen.scale);
    }
  }
  try {
    return renders.render(
        scene, bounds, static_cast<int64_t>(bounds.width * scale),
        static_cast<int64_t>(bounds.height * scale), [first](size_t k) { return k >= first; },
        behaviour.imageFormat.value_or(PixelFormat::kBGRAPremultiplied), {stopRequested});
  } catch (const std::bad_alloc&) {
    return nullptr;  // The window server gives no image.
  }
}

}  // namespace dravel::sim
