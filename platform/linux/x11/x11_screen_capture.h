// The capture engines on an X11 desktop.
//
// The screenshot service runs on a worker thread with an X connection of its
// own (Xlib connections are not shared between threads) and reads each
// monitor's exact pixel rectangle, re-read from RandR at the moment of the
// capture, through a shared-memory segment kept between captures. The window
// server's synchronous routes read on the main thread's connection.
//
// Leaving the overlay out: without a compositing manager X keeps no pixels of
// what a window covers, so the screen "without our window" exists only from
// before the window appeared. The window code calls snapshotBeforeOverlay
// just before it maps the overlay; while that snapshot is held, any capture
// that excludes the overlay's window answers with the snapshot's pixels.
#pragma once

#include <atomic>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

#include "platform/linux/session/screen_layout.h"
#include "platform/linux/x11/x11_connection.h"
#include "platform/linux/x11/x11_image_reader.h"
#include "platform/seam/screen_capture.h"
#include "platform/shared/engine_worker.h"

namespace dravel::linux_platform {

// The root pixel rectangle of window-list bounds (global top-left points):
// (x*s + P.x, y*s + P.y, w*s, h*s) with the primary monitor P and scale s,
// rounded to whole pixels.
PixelRect rootRectFromTopLeftBounds(const DesktopLayout& layout, const Rect& bounds);

class X11ScreenCapture : public ScreenCapture {
 public:
  // `mainConnection` is the main thread's connection, used by the
  // synchronous routes and the overlay snapshot; `layoutSource` gives the
  // main thread's current layout and is called on the main thread only. The
  // worker opens its own connection to `displayName` (empty: $DISPLAY).
  X11ScreenCapture(std::string displayName, XConnection& mainConnection,
                     std::function<DesktopLayout()> layoutSource);
  // Stops the worker and waits for it: work not yet started is dropped (its
  // handler is never called), and a capture in progress is answered as
  // cancelled. Runs on the main thread (it releases the main connection's
  // segment), before the main connection closes.
  ~X11ScreenCapture() override;
  X11ScreenCapture(const X11ScreenCapture&) = delete;
  X11ScreenCapture& operator=(const X11ScreenCapture&) = delete;

  // Whether the worker's own connection opened.
  bool screenshotServiceAvailable() override;
  // Answers on the worker: the monitors (handle: a shared_ptr<const
  // MonitorPixels>) and the client windows (_NET_CLIENT_LIST), plus the
  // overlay's window while a snapshot is held for it (it is override-redirect
  // and never a client). The two flags are not used: the list holds no
  // desktop windows, and on-screen-only lists only viewable windows either way.
  void getShareableContent(bool excludeDesktopWindows, bool onScreenWindowsOnly,
                           ContentHandler handler) override;
  // Answers on the worker with an image (opaque premultiplied BGRA on the
  // common visual, else kBGRX; see XImageReader) of the monitor's current pixel
  // rectangle clipped to the root (the configuration's size is not used), or
  // an error when the monitor has gone, the capture was cancelled or the
  // server refused the read.
  void captureImage(const ContentFilter& filter, const StreamConfiguration& configuration,
                    ImageHandler handler) override;
  // The monitor as the layout source knows it, read on the main connection.
  CapturedImagePtr displayCreateImage(uint32_t displayID) override;
  // The root pixels under `bounds`; the overlay snapshot's pixels when
  // `windowID` is the overlay's window and the snapshot is held. X cannot
  // leave out other windows: any other window gives the live screen.
  CapturedImagePtr windowListCreateImage(const Rect& bounds, uint32_t listOption, uint32_t windowID,
                                         uint32_t imageOption) override;

  // Main thread. Reads the whole root now and keeps it for `overlayWindow`
  // until overlayHidden; replaces any earlier snapshot.
  void snapshotBeforeOverlay(uint32_t overlayWindow);
  // The readers' kept pixel buffers go (the worker's on the worker).
  void releaseIdleMemory() override;
  // Main thread. Drops the snapshot when it belongs to `overlayWindow`.
  void overlayHidden(uint32_t overlayWindow);
  // The held snapshot (the whole root), or null.
  CapturedImagePtr overlaySnapshot() const;

  // Which reader the worker uses; for diagnostics and tests.
  std::optional<XImageReader::Route> workerRoute() const;
  // Blocks until the worker has run everything handed to it so far.
  void waitUntilIdle();
  // Whether the engine is going away (its destructor has begun); a capture
  // in progress then ends as cancelled.
  bool stopping() const { return stopping_.load(); }

 private:
  struct Snapshot {
    uint32_t window = 0;
    CapturedImagePtr image;
  };
  using Task = std::function<void()>;

  void post(Task task);
  std::shared_ptr<const Snapshot> snapshotExcluding(const std::vector<uint32_t>& windows) const;
  XImageReader& mainReader();
  // The pixels of `area` (root pixels) from the snapshot, when one is held
  // for one of `excluded`; else from `reader`.
  CapturedImagePtr readArea(XImageReader& reader, const PixelRect& area,
                            const std::vector<uint32_t>& excluded, bool cursor, std::string* why);

  std::string displayName_;
  XConnection& main_;
  std::function<DesktopLayout()> layoutSource_;
  std::unique_ptr<XImageReader> mainReader_;

  // Opened by the constructor, used on the worker only from then on.
  std::unique_ptr<XConnection> workerConnection_;
  std::unique_ptr<XImageReader> workerReader_;
  std::atomic<int> workerRoute_{-1};

  std::atomic<bool> stopping_{false};

  mutable std::mutex snapshotMutex_;
  std::shared_ptr<const Snapshot> snapshot_;

  // Last: it goes first, while what its tasks use is still there. None when
  // the worker's connection did not open.
  std::unique_ptr<EngineWorker> worker_;
};

}  // namespace dravel::linux_platform
