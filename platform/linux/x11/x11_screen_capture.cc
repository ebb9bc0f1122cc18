#include "platform/linux/x11/x11_screen_capture.h"

#include <X11/Xatom.h>
#include <malloc.h>

#include <algorithm>
#include <climits>
#include <cmath>
#include <new>

#include "channels/log.h"
#include "channels/stop_request.h"
#include "platform/linux/x11/x11_properties.h"
#include "platform/linux/x11/x11_screens.h"
#include "platform/seam/window_list.h"
#include "platform/shared/capture_answer.h"

namespace dravel::linux_platform {
namespace {

constexpr char kDisplayGone[] = "The display is no longer available.";
// Short enough to need no allocation of its own.
constexpr char kNoConnection[] = "The screenshot service has no connection to the X server.";

PixelRect rectOf(const MonitorPixels& m) {
  return PixelRect{m.x, m.y, m.width, m.height};
}

// The client windows the window manager lists, oldest first.
std::vector<uint32_t> clientWindows(XConnection& connection, bool viewableOnly) {
  Display* display = connection.display();
  std::vector<uint32_t> windows;
  XErrorTrap trap(display);
  if (auto ids = readLongs(display, connection.root(), connection.atom("_NET_CLIENT_LIST"),
                           XA_WINDOW, LONG_MAX / 4)) {
    for (unsigned long id : *ids) windows.push_back(static_cast<uint32_t>(id));
  }
  if (viewableOnly) {
    std::erase_if(windows, [&](uint32_t id) {
      XWindowAttributes attributes;
      // A window that has gone since the list was read is not on screen.
      XErrorTrap windowTrap(display);
      return !XGetWindowAttributes(display, id, &attributes) || windowTrap.failed() ||
             attributes.map_state != IsViewable;
    });
  }
  return windows;
}

}  // namespace

PixelRect rootRectFromTopLeftBounds(const DesktopLayout& layout, const Rect& bounds) {
  const MonitorPixels* p = layout.primary();
  const double s = layout.scale();
  const double px = p ? static_cast<double>(p->x) : 0.0;
  const double py = p ? static_cast<double>(p->y) : 0.0;
  const double left = std::round(bounds.x * s + px);
  const double top = std::round(bounds.y * s + py);
  const double right = std::round((bounds.x + bounds.width) * s + px);
  const double bottom = std::round((bounds.y + bounds.height) * s + py);
  // Beyond any X screen (coordinates are 16-bit): held, so the conversion is
  // defined; clipping to the root then removes it.
  constexpr double kLimit = 1 << 20;
  auto held = [&](double v) {
    return static_cast<int64_t>(std::isfinite(v) ? std::clamp(v, -kLimit, kLimit) : 0.0);
  };
  return PixelRect{held(left), held(top), held(right) - held(left), held(bottom) - held(top)};
}

X11ScreenCapture::X11ScreenCapture(std::string displayName, XConnection& mainConnection,
                                   std::function<DesktopLayout()> layoutSource)
    : displayName_(std::move(displayName)),
      main_(mainConnection),
      layoutSource_(std::move(layoutSource)) {
  std::string why;
  workerConnection_ =
      XConnection::open(displayName_.empty() ? nullptr : displayName_.c_str(), &why);
  if (!workerConnection_) {
    NSLog("[capture] no screenshot service: %s", why.c_str());
    return;
  }
  // The shared-memory check and every later use of this connection happen
  // on the worker; the segment is detached on the connection that attached it.
  worker_ = std::make_unique<EngineWorker>(
      [this] {
        try {
          workerReader_ = std::make_unique<XImageReader>(*workerConnection_, "screenshot service");
          workerRoute_ = static_cast<int>(workerReader_->route());
        } catch (const std::bad_alloc&) {
        }
      },
      [this] { workerReader_.reset(); });
}

X11ScreenCapture::~X11ScreenCapture() {
  // A capture in progress polls this and answers as cancelled; work not yet
  // started is dropped.
  stopping_ = true;
  worker_.reset();
  mainReader_.reset();
  workerConnection_.reset();
}

void X11ScreenCapture::post(Task task) {
  if (worker_) worker_->post(std::move(task));
}

void X11ScreenCapture::waitUntilIdle() {
  if (worker_) worker_->waitUntilIdle();
}

std::optional<XImageReader::Route> X11ScreenCapture::workerRoute() const {
  const int route = workerRoute_.load();
  if (route < 0) return std::nullopt;
  return static_cast<XImageReader::Route>(route);
}

void X11ScreenCapture::releaseIdleMemory() {
  if (mainReader_) mainReader_->releaseSpare();
  post([this] {
    if (workerReader_) workerReader_->releaseSpare();
#ifdef __GLIBC__
    // Freed on this thread, so into this thread's arena.
    malloc_trim(0);
#endif
  });
}

XImageReader& X11ScreenCapture::mainReader() {
  if (!mainReader_) mainReader_ = std::make_unique<XImageReader>(main_, "window server route");
  return *mainReader_;
}

bool X11ScreenCapture::screenshotServiceAvailable() {
  return workerConnection_ != nullptr;
}

std::shared_ptr<const X11ScreenCapture::Snapshot> X11ScreenCapture::snapshotExcluding(
    const std::vector<uint32_t>& windows) const {
  std::lock_guard<std::mutex> lock(snapshotMutex_);
  if (!snapshot_) return nullptr;
  if (std::find(windows.begin(), windows.end(), snapshot_->window) == windows.end()) return nullptr;
  return snapshot_;
}

CapturedImagePtr X11ScreenCapture::readArea(XImageReader& reader, const PixelRect& area,
                                            const std::vector<uint32_t>& excluded, bool cursor,
                                            std::string* why) {
  if (std::shared_ptr<const Snapshot> snapshot = snapshotExcluding(excluded)) {
    // What was on screen just before the overlay appeared. The cursor is
    // left out: it moves on while the overlay is up.
    const CapturedImage& whole = *snapshot->image;
    const PixelRect inside = intersect(area, PixelRect{0, 0, whole.width, whole.height});
    CapturedImagePtr crop = cropImage(whole, inside);
    if (!crop && why) *why = "Nothing of the display was on screen before the overlay appeared.";
    return crop;
  }
  std::shared_ptr<CapturedImage> image = reader.read(area, why);
  if (image && cursor) reader.drawCursor(*image, area.x, area.y);
  return image;
}

void X11ScreenCapture::getShareableContent(bool, bool onScreenWindowsOnly, ContentHandler handler) {
  if (!workerConnection_) {
    handler(std::nullopt, std::string(kNoConnection));
    return;
  }
  post([this, onScreenWindowsOnly, handler = std::move(handler)] {
    answerMadeEvenWithoutMemory(handler, [&] {
      ShareableContent content;
      for (MonitorPixels& m : readMonitors(*workerConnection_)) {
        const uint32_t id = m.displayID;
        content.displays.push_back({id, std::make_shared<const MonitorPixels>(std::move(m))});
      }
      for (uint32_t id : clientWindows(*workerConnection_, onScreenWindowsOnly)) {
        content.windows.push_back({id});
      }
      std::lock_guard<std::mutex> lock(snapshotMutex_);
      if (snapshot_) {
        const uint32_t overlay = snapshot_->window;
        if (std::none_of(content.windows.begin(), content.windows.end(),
                         [&](const ShareableWindow& w) { return w.windowID == overlay; })) {
          content.windows.push_back({overlay});
        }
      }
      return content;
    });
  });
}

void X11ScreenCapture::captureImage(const ContentFilter& filter,
                                    const StreamConfiguration& configuration,
                                    ImageHandler handler) {
  if (!workerConnection_) {
    handler(nullptr, std::string(kNoConnection));
    return;
  }
  std::vector<uint32_t> excluded;
  for (const ShareableWindow& w : filter.excludedWindows) excluded.push_back(w.windowID);
  post([this, displayID = filter.display.displayID, excluded = std::move(excluded), configuration,
        handler = std::move(handler)] {
    // Stops when the engine goes or when whoever asked no longer wants it.
    const std::function<bool()> cancelled = [&] {
      return stopping() || processStopRequested() ||
             (configuration.cancelled && configuration.cancelled());
    };
    answerCapture(handler, cancelled, [&](std::string* error) -> CapturedImagePtr {
      if (!workerReader_) {
        *error = kOutOfMemory;
        return nullptr;
      }
      // The monitor as it is now, not as it was when the content was listed.
      const MonitorPixels* monitor = nullptr;
      const std::vector<MonitorPixels> monitors = readMonitors(*workerConnection_);
      for (const MonitorPixels& m : monitors) {
        if (m.displayID == displayID) monitor = &m;
      }
      if (!monitor) {
        *error = kDisplayGone;
        return nullptr;
      }
      const PixelRect area = intersect(rectOf(*monitor), workerReader_->rootArea());
      CapturedImagePtr image =
          readArea(*workerReader_, area, excluded, configuration.showsCursor, error);
      if (!image && error->empty()) *error = kDisplayGone;
      return image;
    });
  });
}

CapturedImagePtr X11ScreenCapture::displayCreateImage(uint32_t displayID) {
  const DesktopLayout layout = layoutSource_ ? layoutSource_() : DesktopLayout();
  const MonitorPixels* monitor = layout.find(displayID);
  if (!monitor) return nullptr;
  XImageReader& reader = mainReader();
  const PixelRect area = intersect(rectOf(*monitor), reader.rootArea());
  return reader.read(area, nullptr);
}

CapturedImagePtr X11ScreenCapture::windowListCreateImage(const Rect& bounds, uint32_t listOption,
                                                         uint32_t windowID, uint32_t) {
  const DesktopLayout layout = layoutSource_ ? layoutSource_() : DesktopLayout();
  XImageReader& reader = mainReader();
  const PixelRect area = intersect(rootRectFromTopLeftBounds(layout, bounds), reader.rootArea());
  std::vector<uint32_t> excluded;
  if (listOption & kWindowListOptionOnScreenBelowWindow) excluded.push_back(windowID);
  return readArea(reader, area, excluded, false, nullptr);
}

void X11ScreenCapture::snapshotBeforeOverlay(uint32_t overlayWindow) {
  XImageReader& reader = mainReader();
  std::string why;
  std::shared_ptr<CapturedImage> whole = reader.read(reader.rootArea(), &why);
  std::shared_ptr<const Snapshot> made;
  if (whole) {
    made = std::make_shared<const Snapshot>(Snapshot{overlayWindow, std::move(whole)});
  } else {
    // Without it, captures show the overlay rather than stale pixels.
    NSLog("[capture] no snapshot before the overlay: %s", why.c_str());
  }
  std::shared_ptr<const Snapshot> previous;
  {
    std::lock_guard<std::mutex> lock(snapshotMutex_);
    previous = std::move(snapshot_);
    snapshot_ = std::move(made);
  }
  // The old pixels are freed outside the lock.
  previous.reset();
}

void X11ScreenCapture::overlayHidden(uint32_t overlayWindow) {
  std::shared_ptr<const Snapshot> previous;
  {
    std::lock_guard<std::mutex> lock(snapshotMutex_);
    if (snapshot_ && snapshot_->window == overlayWindow) previous = std::move(snapshot_);
  }
}

CapturedImagePtr X11ScreenCapture::overlaySnapshot() const {
  std::lock_guard<std::mutex> lock(snapshotMutex_);
  return snapshot_ ? snapshot_->image : nullptr;
}

}  // namespace dravel::linux_platform
