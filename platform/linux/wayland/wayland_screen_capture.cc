#include "platform/linux/wayland/wayland_screen_capture.h"

#include "channels/log.h"
#include "channels/main_queue.h"
#include "channels/stop_request.h"
#include "platform/shared/capture_answer.h"

namespace dravel::linux_platform {
namespace {

constexpr char kDisplayGone[] = "The display is no longer available.";

}  // namespace

WaylandScreenCapture::WaylandScreenCapture(std::vector<RouteOffer> offers,
                                           std::function<RouteLayout()> layoutSource,
                                           std::function<std::vector<uint32_t>()> hostWindows)
    : offers_(std::move(offers)),
      layoutSource_(std::move(layoutSource)),
      hostWindows_(std::move(hostWindows)) {
  worker_ = std::make_unique<EngineWorker>([this] { findRoutes(); },
                                           [this] {
                                             // Routes are made and go on the worker.
                                             std::lock_guard<std::mutex> lock(routesMutex_);
                                             routes_.clear();
                                           });
}

WaylandScreenCapture::~WaylandScreenCapture() {
  stopping_ = true;
  worker_.reset();
}

void WaylandScreenCapture::findRoutes() {
  std::vector<CaptureRoutePtr> found;
  std::string missing;
  for (const RouteOffer& offer : offers_) {
    if (stopping_) break;
    std::string why;
    CaptureRoutePtr route;
    try {
      route = offer.make ? offer.make(&why) : nullptr;
    } catch (const std::bad_alloc&) {
      why = kOutOfMemory;
    }
    if (route) {
      found.push_back(std::move(route));
    } else {
      if (!missing.empty()) missing += "; ";
      missing += offer.name + ": " + (why.empty() ? "not offered" : why);
    }
  }
  if (found.empty()) {
    NSLog("[capture] no way to read the screen on this Wayland session (%s)", missing.c_str());
  } else {
    std::string names;
    for (const CaptureRoutePtr& r : found) names += (names.empty() ? "" : ", ") + r->name();
    NSLog("[capture] Wayland capture routes: %s", names.c_str());
  }
  std::lock_guard<std::mutex> lock(routesMutex_);
  routes_ = std::move(found);
  missing_ = std::move(missing);
}

void WaylandScreenCapture::post(std::function<void()> task) {
  if (worker_) worker_->post(std::move(task));
}

void WaylandScreenCapture::scheduleIdleClose(CaptureRoute* route) {
  const uint64_t use = ++uses_;
  const std::chrono::milliseconds keep = route->keepsOpenFor();
  if (keep.count() <= 0 || !worker_) return;
  worker_->postAfter(keep, [this, route, use] {
    if (use != uses_) return;
    std::lock_guard<std::mutex> lock(routesMutex_);
    for (const CaptureRoutePtr& r : routes_) {
      if (r.get() == route) r->closeIdle();
    }
  });
}

void WaylandScreenCapture::waitUntilIdle() {
  if (worker_) worker_->waitUntilIdle();
}

std::vector<std::string> WaylandScreenCapture::routeNames() const {
  std::lock_guard<std::mutex> lock(routesMutex_);
  std::vector<std::string> names;
  for (const CaptureRoutePtr& route : routes_) names.push_back(route->name());
  return names;
}

bool WaylandScreenCapture::granted() const {
  std::lock_guard<std::mutex> lock(routesMutex_);
  return !routes_.empty() && routes_.front()->granted();
}

bool WaylandScreenCapture::promptVisible() const {
  std::lock_guard<std::mutex> lock(routesMutex_);
  for (const CaptureRoutePtr& route : routes_) {
    if (route->promptVisible()) return true;
  }
  return false;
}

void WaylandScreenCapture::requestGrant(std::function<void(bool)> done) {
  auto answer = std::make_shared<std::function<void(bool)>>(std::move(done));
  post([this, answer] {
    bool granted = false;
    // Only the worker changes the routes: the first stays while it asks.
    CaptureRoute* first = nullptr;
    {
      std::lock_guard<std::mutex> lock(routesMutex_);
      if (!routes_.empty()) first = routes_.front().get();
    }
    if (first) {
      granted = first->requestGrant([this] { return stopping_.load() || processStopRequested(); });
      scheduleIdleClose(first);
    }
    mainQueue().async([answer, granted] { (*answer)(granted); });
  });
}

void WaylandScreenCapture::getShareableContent(bool, bool, ContentHandler handler) {
  RouteLayout layout = layoutSource_ ? layoutSource_() : RouteLayout{};
  std::vector<uint32_t> windows = hostWindows_ ? hostWindows_() : std::vector<uint32_t>{};
  post([layout = std::move(layout), windows = std::move(windows),
        handler = std::move(handler)]() mutable {
    answerMadeEvenWithoutMemory(handler, [&] {
      ShareableContent content;
      for (const RouteMonitor& monitor : layout) {
        auto target = std::make_shared<const Target>(Target{monitor, layout});
        content.displays.push_back({monitor.displayID, std::move(target)});
      }
      for (uint32_t id : windows) content.windows.push_back({id});
      return content;
    });
  });
}

void WaylandScreenCapture::captureImage(const ContentFilter& filter,
                                        const StreamConfiguration& configuration,
                                        ImageHandler handler) {
  auto target = std::static_pointer_cast<const Target>(filter.display.handle);
  // The overlay left out: what its monitor showed before the overlay came.
  std::shared_ptr<const Snapshot> snapshot;
  {
    std::lock_guard<std::mutex> lock(snapshotMutex_);
    if (snapshot_ && target && snapshot_->displayID == target->monitor.displayID) {
      for (const ShareableWindow& w : filter.excludedWindows) {
        if (w.windowID == snapshot_->window) snapshot = snapshot_;
      }
    }
  }
  if (snapshot) {
    post([snapshot = std::move(snapshot), handler = std::move(handler)] {
      handler(snapshot->image, std::nullopt);
    });
    return;
  }
  post([this, target = std::move(target), configuration, handler = std::move(handler)] {
    const std::function<bool()> cancelled = [&] {
      return stopping_.load() || processStopRequested() ||
             (configuration.cancelled && configuration.cancelled());
    };
    answerCapture(handler, cancelled, [&](std::string* error) -> CapturedImagePtr {
      if (!target) {
        *error = kDisplayGone;
        return nullptr;
      }
      return captureThroughRoutes(target->monitor, target->layout, configuration.showsCursor,
                                  cancelled, error);
    });
  });
}

CapturedImagePtr WaylandScreenCapture::captureThroughRoutes(const RouteMonitor& monitor,
                                                            const RouteLayout& layout,
                                                            bool showsCursor,
                                                            const std::function<bool()>& cancelled,
                                                            std::string* error) {
  for (;;) {
    CaptureRoute* route = nullptr;
    std::string missing;
    {
      std::lock_guard<std::mutex> lock(routesMutex_);
      if (!routes_.empty()) route = routes_.front().get();
      missing = missing_;
    }
    if (!route) {
      *error = "No way to read the screen on this Wayland session";
      if (!missing.empty()) *error += " (" + missing + ")";
      *error += ".";
      return nullptr;
    }
    RouteResult result = route->capture(monitor, layout, showsCursor, cancelled);
    scheduleIdleClose(route);
    if (cancelled()) return nullptr;
    if (result.image) return std::move(result.image);
    if (!result.unusable) {
      *error = result.error.empty() ? std::string(kDisplayGone) : result.error;
      return nullptr;
    }
    // Dropped for good; the next route serves this capture and the later
    // ones.
    NSLog("[capture] %s cannot serve this session: %s; trying the next way", route->name().c_str(),
          result.error.c_str());
    std::lock_guard<std::mutex> lock(routesMutex_);
    if (!missing_.empty()) missing_ += "; ";
    missing_ += route->name() + ": " + result.error;
    routes_.erase(routes_.begin());
  }
}

void WaylandScreenCapture::snapshotBeforeOverlay(int64_t window, uint32_t displayID,
                                                 std::function<void()> done) {
  const uint64_t generation = ++snapshotGeneration_;
  RouteLayout layout = layoutSource_ ? layoutSource_() : RouteLayout{};
  std::optional<RouteMonitor> monitor;
  for (const RouteMonitor& m : layout) {
    if (m.displayID == displayID) monitor = m;
  }
  if (!monitor || !worker_) {
    mainQueue().async(std::move(done));
    return;
  }
  post([this, window, generation, monitor = *monitor, layout = std::move(layout),
        done = std::move(done)]() mutable {
    std::string why;
    CapturedImagePtr image;
    try {
      image = captureThroughRoutes(
          monitor, layout, false,
          [this, generation] {
            return stopping_.load() || processStopRequested() || generation != snapshotGeneration_;
          },
          &why);
    } catch (const std::bad_alloc&) {
      why = kOutOfMemory;
    }
    if (!image && generation == snapshotGeneration_) {
      // Without it, captures show the overlay rather than stale pixels.
      NSLog("[capture] no snapshot before the overlay: %s", why.c_str());
    }
    std::shared_ptr<const Snapshot> previous;
    {
      std::lock_guard<std::mutex> lock(snapshotMutex_);
      if (image && generation == snapshotGeneration_) {
        previous = std::move(snapshot_);
        snapshot_ = std::make_shared<const Snapshot>(Snapshot{window, monitor.displayID, image});
      }
    }
    previous.reset();
    image.reset();
    mainQueue().async(std::move(done));
  });
}

void WaylandScreenCapture::overlayHidden(int64_t window) {
  ++snapshotGeneration_;
  std::shared_ptr<const Snapshot> previous;
  std::lock_guard<std::mutex> lock(snapshotMutex_);
  if (snapshot_ && snapshot_->window == window) previous = std::move(snapshot_);
}

}  // namespace dravel::linux_platform
