// The capture engine on a Wayland session.
//
// Every capture runs on the engine's worker thread through the first usable
// route the session offers (see capture_route.h), in this order of
// preference: the wlroots screencopy protocol, KWin's ScreenShot2, the
// ScreenCast portal, the Screenshot portal. The routes are looked for once,
// on the worker, when the engine starts; a route that turns out unusable (KWin
// refusing the host, say) is dropped with one log line and the next one
// serves from then on. A session that offers none still runs: captures then
// fail with a message naming what is missing.
//
// Only the asynchronous screenshot service exists here: Wayland has no
// synchronous screen read, so the window-server routes give nothing.
#pragma once

#include <atomic>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "platform/linux/wayland/capture/capture_route.h"
#include "platform/seam/screen_capture.h"
#include "platform/shared/engine_worker.h"

namespace dravel::linux_platform {

class WaylandScreenCapture : public ScreenCapture {
 public:
  // One kind of route the session may offer: `make` runs on the worker and
  // answers null, saying why in `why`, when the session does not offer it.
  struct RouteOffer {
    std::string name;
    std::function<CaptureRoutePtr(std::string* why)> make;
  };

  // `layoutSource` and `hostWindows` are called on the calling thread of
  // getShareableContent (the main thread): the monitors as the routes see
  // them, and the host's own windows on screen, which captures may leave out.
  WaylandScreenCapture(std::vector<RouteOffer> offers, std::function<RouteLayout()> layoutSource,
                       std::function<std::vector<uint32_t>()> hostWindows);
  // Stops the worker: work not yet started is dropped, a capture in
  // progress is answered as cancelled.
  ~WaylandScreenCapture() override;
  WaylandScreenCapture(const WaylandScreenCapture&) = delete;
  WaylandScreenCapture& operator=(const WaylandScreenCapture&) = delete;

  bool screenshotServiceAvailable() override { return true; }
  // The monitors (handle: a shared_ptr<const Target>) and the host's windows.
  void getShareableContent(bool excludeDesktopWindows, bool onScreenWindowsOnly,
                           ContentHandler handler) override;
  // The monitor's pixels at its native size, through the first usable route.
  void captureImage(const ContentFilter& filter, const StreamConfiguration& configuration,
                    ImageHandler handler) override;
  // No synchronous read of the screen exists on Wayland: none.
  CapturedImagePtr displayCreateImage(uint32_t) override { return nullptr; }
  CapturedImagePtr windowListCreateImage(const Rect&, uint32_t, uint32_t, uint32_t) override {
    return nullptr;
  }

  // Any thread. Whether a capture now asks the user nothing (see
  // CaptureRoute::granted); false while no route serves.
  bool granted() const;
  // Asks the first route for its grant on the worker; `done` runs on the
  // main queue with the answer.
  void requestGrant(std::function<void(bool)> done);
  // Any thread. Whether a route's request waits for the user.
  bool promptVisible() const;
  // The names of the routes that serve, in order; empty until the worker has
  // looked for them, or when none is offered.
  std::vector<std::string> routeNames() const;
  // Blocks until the worker has run everything handed to it so far.
  void waitUntilIdle();

  // Main thread. Reads the monitor `displayID` through the serving route
  // before the overlay `window` covers it; `done` runs on the main queue once
  // the read is over, whether it gave pixels or not. While that snapshot is
  // held, a capture of the monitor that leaves `window` out answers with it
  // (the overlay is not in it). It is dropped by overlayHidden for `window`,
  // and a read that ends after overlayHidden or a later snapshot keeps
  // nothing.
  void snapshotBeforeOverlay(int64_t window, uint32_t displayID, std::function<void()> done);
  void overlayHidden(int64_t window);

  // What a display's handle carries: the monitor and the whole layout at
  // the time the content was listed.
  struct Target {
    RouteMonitor monitor;
    RouteLayout layout;
  };

 private:
  void findRoutes();
  void post(std::function<void()> task);
  // On the worker, after `route` served: what it keeps open is closed once
  // no capture came for its time.
  void scheduleIdleClose(CaptureRoute* route);
  // On the worker: the monitor's pixels through the first usable route,
  // dropping routes that turn out unusable; null with `error` set (or
  // cancelled) otherwise.
  CapturedImagePtr captureThroughRoutes(const RouteMonitor& monitor, const RouteLayout& layout,
                                        bool showsCursor, const std::function<bool()>& cancelled,
                                        std::string* error);

  struct Snapshot {
    int64_t window = 0;
    uint32_t displayID = 0;
    CapturedImagePtr image;
  };
  std::mutex snapshotMutex_;
  std::shared_ptr<const Snapshot> snapshot_;
  // Counts snapshots begun and overlays hidden (main thread); a read begun
  // under an older count keeps nothing.
  std::atomic<uint64_t> snapshotGeneration_{0};

  std::vector<RouteOffer> offers_;
  std::function<RouteLayout()> layoutSource_;
  std::function<std::vector<uint32_t>()> hostWindows_;
  std::atomic<bool> stopping_{false};
  // Changed on the worker only, read anywhere under the lock.
  mutable std::mutex routesMutex_;
  std::vector<CaptureRoutePtr> routes_;
  // What no route offers, for the message of a capture that cannot run.
  std::string missing_;
  // Counts the captures and grants, on the worker only: an idle close is due
  // only if none came since it was scheduled.
  uint64_t uses_ = 0;
  // Last: it goes first, while what its tasks use is still there.
  std::unique_ptr<EngineWorker> worker_;
};

}  // namespace dravel::linux_platform
