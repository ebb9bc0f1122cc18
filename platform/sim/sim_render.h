// Drawing of the simulated desktop: a snapshot of what is on screen, drawn
// with Cairo (background, then the listed windows back to front), and the
// cache of recent renderings that both capture routes share.
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

#include "platform/seam/screen_capture.h"

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

}  // namespace dravel::sim
