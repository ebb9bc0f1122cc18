#include "platform/sim/sim_render.h"

#include <cairo.h>

#include <algorithm>
#include <cmath>
#include <cstring>
#include <new>

#include "platform/shared/cairo_pixels.h"
#include "platform/sim/sim_desktop.h"

namespace dravel::sim {
namespace {

constexpr double kTitleBarHeight = 28.0;
constexpr uint32_t kHostWindowFill = 0x5B3FD9;

std::optional<double> numberAt(const ValueMap& map, const char* key) {
  const Value* v = map.find(key);
  if (!v) return std::nullopt;
  if (auto d = v->asDouble()) return *d;
  if (auto i = v->asInt()) return static_cast<double>(*i);
  return std::nullopt;
}

std::optional<uint32_t> parseFill(const Value* v) {
  const std::string* text = v ? v->asString() : nullptr;
  if (!text || text->size() != 7 || (*text)[0] != '#') return std::nullopt;
  uint32_t rgb = 0;
  for (size_t i = 1; i < 7; ++i) {
    const char c = (*text)[i];
    uint32_t digit;
    if (c >= '0' && c <= '9') {
      digit = static_cast<uint32_t>(c - '0');
    } else if (c >= 'a' && c <= 'f') {
      digit = static_cast<uint32_t>(c - 'a' + 10);
    } else if (c >= 'A' && c <= 'F') {
      digit = static_cast<uint32_t>(c - 'A' + 10);
    } else {
      return std::nullopt;
    }
    rgb = rgb * 16 + digit;
  }
  return rgb;
}

// A calm colour picked from a name, so that windows without a fill differ.
uint32_t colourFor(const std::string& name) {
  static constexpr uint32_t kPalette[] = {0xE8E8EA, 0xF4E3C1, 0xCFE3F5,
                                          0xD8F0D2, 0xF2D4DC, 0xE0DAF5};
  size_t h = std::hash<std::string>{}(name);
  return kPalette[h % (sizeof(kPalette) / sizeof(kPalette[0]))];
}

void setSource(cairo_t* cr, uint32_t rgb, double alpha) {
  cairo_set_source_rgba(cr, ((rgb >> 16) & 0xFF) / 255.0, ((rgb >> 8) & 0xFF) / 255.0,
                        (rgb & 0xFF) / 255.0, alpha);
}

int64_t paddedStride(int64_t width) {
  // Engines align rows to 64 bytes and keep some room at their end.
  return (width * 4 + 63) / 64 * 64 + 64;
}

// Cairo's premultiplied ARGB words, read back as straight RGBA bytes.
void toStraightRGBA(uint8_t* row, int64_t width) {
  for (int64_t x = 0; x < width; ++x) {
    uint8_t* p = row + 4 * x;
    const uint8_t b = p[0], g = p[1], r = p[2], a = p[3];
    p[0] = unpremultiply(r, a);
    p[1] = unpremultiply(g, a);
    p[2] = unpremultiply(b, a);
    p[3] = a;
  }
}

// Titles are drawn in a small built-in 5 x 7 font, so that the simulated
// desktop looks the same on every machine and needs no font configuration.
struct Glyph {
  char c;
  uint8_t rows[7];
};
constexpr Glyph kGlyphs[] = {
    {'A', {14, 17, 17, 31, 17, 17, 17}}, {'B', {30, 17, 17, 30, 17, 17, 30}},
    {'C', {14, 17, 16, 16, 16, 17, 14}}, {'D', {30, 17, 17, 17, 17, 17, 30}},
    {'E', {31, 16, 16, 30, 16, 16, 31}}, {'F', {31, 16, 16, 30, 16, 16, 16}},
    {'G', {14, 17, 16, 23, 17, 17, 15}}, {'H', {17, 17, 17, 31, 17, 17, 17}},
    {'I', {14, 4, 4, 4, 4, 4, 14}},      {'J', {7, 2, 2, 2, 2, 18, 12}},
    {'K', {17, 18, 20, 24, 20, 18, 17}}, {'L', {16, 16, 16, 16, 16, 16, 31}},
    {'M', {17, 27, 21, 21, 17, 17, 17}}, {'N', {17, 17, 25, 21, 19, 17, 17}},
    {'O', {14, 17, 17, 17, 17, 17, 14}}, {'P', {30, 17, 17, 30, 16, 16, 16}},
    {'Q', {14, 17, 17, 17, 21, 18, 13}}, {'R', {30, 17, 17, 30, 20, 18, 17}},
    {'S', {15, 16, 16, 14, 1, 1, 30}},   {'T', {31, 4, 4, 4, 4, 4, 4}},
    {'U', {17, 17, 17, 17, 17, 17, 14}}, {'V', {17, 17, 17, 17, 17, 10, 4}},
    {'W', {17, 17, 17, 21, 21, 21, 10}}, {'X', {17, 17, 10, 4, 10, 17, 17}},
    {'Y', {17, 17, 17, 10, 4, 4, 4}},    {'Z', {31, 1, 2, 4, 8, 16, 31}},
    {'0', {14, 17, 19, 21, 25, 17, 14}}, {'1', {4, 12, 4, 4, 4, 4, 14}},
    {'2', {14, 17, 1, 2, 4, 8, 31}},     {'3', {31, 2, 4, 2, 1, 17, 14}},
    {'4', {2, 6, 10, 18, 31, 2, 2}},     {'5', {31, 16, 30, 1, 1, 17, 14}},
    {'6', {6, 8, 16, 30, 17, 17, 14}},   {'7', {31, 1, 2, 4, 8, 8, 8}},
    {'8', {14, 17, 17, 14, 17, 17, 14}}, {'9', {14, 17, 17, 15, 1, 2, 12}},
    {'-', {0, 0, 0, 31, 0, 0, 0}},       {'.', {0, 0, 0, 0, 0, 12, 12}},
    {' ', {0, 0, 0, 0, 0, 0, 0}},
};
constexpr uint8_t kUnknownGlyph[7] = {31, 17, 17, 17, 17, 17, 31};

const uint8_t* glyphRows(char c) {
  if (c >= 'a' && c <= 'z') c = static_cast<char>(c - 'a' + 'A');
  for (const Glyph& g : kGlyphs) {
    if (g.c == c) return g.rows;
  }
  return kUnknownGlyph;
}

// Draws `text` with its top-left corner at (x, y), each font pixel `dot`
// points, up to the right edge `maxX`.
void drawText(cairo_t* cr, const std::string& text, double x, double y, double dot, double maxX) {
  for (char c : text) {
    if (x >= maxX) break;
    const uint8_t* rows = glyphRows(c);
    for (int row = 0; row < 7; ++row) {
      for (int col = 0; col < 5; ++col) {
        if (rows[row] & (16 >> col)) cairo_rectangle(cr, x + col * dot, y + row * dot, dot, dot);
      }
    }
    x += 6 * dot;
  }
  cairo_fill(cr);
}

}  // namespace

Scene Scene::of(SimDesktop& desktop) {
  Scene scene;
  for (const auto& s : desktop.screens().list) {
    Screen screen;
    screen.frame = s->frame();
    screen.scale = s->backingScaleFactor();
    const ValueMap description = s->deviceDescription();
    const Value* number = description.find("NSScreenNumber");
    // Read as the host reads it: a number's low 32 bits.
    if (number && number->asInt()) {
      screen.displayId = static_cast<uint32_t>(*number->asInt());
    } else if (number && number->asDouble() && std::isfinite(*number->asDouble()) &&
               std::abs(*number->asDouble()) < 9.2e18) {
      screen.displayId = static_cast<uint32_t>(static_cast<int64_t>(*number->asDouble()));
    }
    scene.screens.push_back(screen);
  }
  if (!scene.screens.empty()) scene.primaryTop = scene.screens.front().frame.maxY();
  const int ownPid = desktop.processInfo().pid;
  for (const Value& entry : desktop.windowList().currentEntries()) {
    const ValueMap* map = entry.asMap();
    if (!map) continue;
    const Value* boundsValue = map->find(kCGWindowBounds);
    const ValueMap* bounds = boundsValue ? boundsValue->asMap() : nullptr;
    if (!bounds) continue;
    auto x = numberAt(*bounds, "X"), y = numberAt(*bounds, "Y");
    auto w = numberAt(*bounds, "Width"), h = numberAt(*bounds, "Height");
    if (!x || !y || !w || !h) continue;
    Window window;
    window.bounds = {*x, *y, *w, *h};
    window.alpha = std::clamp(numberAt(*map, kCGWindowAlpha).value_or(1.0), 0.0, 1.0);
    if (const Value* n = map->find(kCGWindowNumber); n && n->asInt()) {
      window.number = static_cast<uint32_t>(*n->asInt());
    }
    const Value* name = map->find(kCGWindowName);
    const Value* owner = map->find(kCGWindowOwnerName);
    if (name && name->asString() && !name->asString()->empty()) {
      window.title = *name->asString();
    } else if (owner && owner->asString()) {
      window.title = *owner->asString();
    }
    const Value* pid = map->find(kCGWindowOwnerPID);
    const bool own = pid && pid->asInt() == std::optional<int64_t>(ownPid);
    window.fill =
        parseFill(map->find("fill")).value_or(own ? kHostWindowFill : colourFor(window.title));
    scene.windows.push_back(std::move(window));
  }
  return scene;
}

Rect Scene::topLeft(const Screen& screen) const {
  return {screen.frame.x, primaryTop - screen.frame.maxY(), screen.frame.width,
          screen.frame.height};
}

namespace {

// Draws one window: its body, title bar, frame and title.
void drawWindow(cairo_t* cr, const Scene::Window& w) {
  const Rect& b = w.bounds;
  setSource(cr, w.fill, 1.0);
  cairo_rectangle(cr, b.x, b.y, b.width, b.height);
  cairo_fill(cr);
  const double bar = std::min(kTitleBarHeight, b.height);
  setSource(cr, w.fill, 1.0);
  cairo_rectangle(cr, b.x, b.y, b.width, bar);
  cairo_fill(cr);
  cairo_set_source_rgba(cr, 0, 0, 0, 0.12);
  cairo_rectangle(cr, b.x, b.y, b.width, bar);
  cairo_fill(cr);
  cairo_set_source_rgba(cr, 0, 0, 0, 0.35);
  cairo_set_line_width(cr, 1.0);
  cairo_rectangle(cr, b.x + 0.5, b.y + 0.5, b.width - 1, b.height - 1);
  cairo_stroke(cr);
  if (!w.title.empty() && bar >= 12) {
    cairo_save(cr);
    cairo_rectangle(cr, b.x, b.y, b.width, bar);
    cairo_clip(cr);
    // Dark text on light windows, light text on dark ones.
    const double luma =
        0.299 * ((w.fill >> 16) & 0xFF) + 0.587 * ((w.fill >> 8) & 0xFF) + 0.114 * (w.fill & 0xFF);
    const double ink = luma > 128 ? 0.0 : 1.0;
    cairo_set_source_rgba(cr, ink, ink, ink, 0.85);
    constexpr double kDot = 1.5;
    drawText(cr, w.title, b.x + 12, b.y + (bar - 7 * kDot) / 2, kDot, b.maxX());
    cairo_restore(cr);
  }
}

// Clips to `bounds` widened to whole device pixels, so that a scratch
// surface made next covers only the window and its edges keep their
// coverage.
void clipToDevicePixels(cairo_t* cr, const Rect& bounds) {
  double x0 = bounds.x, y0 = bounds.y, x1 = bounds.maxX(), y1 = bounds.maxY();
  cairo_user_to_device(cr, &x0, &y0);
  cairo_user_to_device(cr, &x1, &y1);
  const double left = std::floor(std::min(x0, x1)), top = std::floor(std::min(y0, y1));
  const double right = std::ceil(std::max(x0, x1)), bottom = std::ceil(std::max(y0, y1));
  cairo_save(cr);
  cairo_identity_matrix(cr);
  cairo_rectangle(cr, left, top, right - left, bottom - top);
  cairo_restore(cr);
  cairo_clip(cr);
}

enum class BandResult { kDrawn, kCancelled, kFailed };

// Draws rows [firstRow, firstRow + rows) of the image into `data`, which
// holds exactly those rows.
BandResult drawBand(const Scene& scene, const Rect& region, int64_t width, int64_t height,
                    const std::function<bool(size_t)>& include, cairo_format_t cairoFormat,
                    uint8_t* data, int64_t firstRow, int64_t rows, int64_t stride,
                    const RenderControl& control, std::string& failure) {
  cairo_surface_t* surface = cairo_image_surface_create_for_data(
      data, cairoFormat, static_cast<int>(width), static_cast<int>(rows), static_cast<int>(stride));
  cairo_t* cr = cairo_create(surface);
  cairo_translate(cr, 0, -static_cast<double>(firstRow));
  cairo_scale(cr, static_cast<double>(width) / region.width,
              static_cast<double>(height) / region.height);
  cairo_translate(cr, -region.x, -region.y);

  // Outside every screen: black.
  cairo_set_source_rgb(cr, 0, 0, 0);
  cairo_paint(cr);
  // Each screen's desktop picture: a vertical gradient, a little different per screen.
  for (size_t i = 0; i < scene.screens.size(); ++i) {
    const Rect r = scene.topLeft(scene.screens[i]);
    cairo_pattern_t* gradient = cairo_pattern_create_linear(0, r.y, 0, r.maxY());
    const double shift = 0.08 * static_cast<double>(i % 4);
    cairo_pattern_add_color_stop_rgb(gradient, 0, 0.12 + shift, 0.24, 0.45);
    cairo_pattern_add_color_stop_rgb(gradient, 1, 0.16, 0.32 + shift, 0.60);
    cairo_rectangle(cr, r.x, r.y, r.width, r.height);
    cairo_set_source(cr, gradient);
    cairo_fill(cr);
    cairo_pattern_destroy(gradient);
  }
  // Windows back to front. An opaque window is drawn straight in; a
  // translucent one through a scratch surface the size of the window.
  BandResult result = BandResult::kDrawn;
  for (size_t k = scene.windows.size(); k-- > 0;) {
    if (control.cancelled && control.cancelled()) {
      result = BandResult::kCancelled;
      break;
    }
    if (!include(k)) continue;
    const Scene::Window& w = scene.windows[k];
    if (w.alpha <= 0 || w.bounds.width <= 0 || w.bounds.height <= 0) continue;
    if (w.alpha >= 1) {
      drawWindow(cr, w);
      continue;
    }
    cairo_save(cr);
    clipToDevicePixels(cr, w.bounds);
    cairo_push_group(cr);
    drawWindow(cr, w);
    cairo_pop_group_to_source(cr);
    cairo_paint_with_alpha(cr, w.alpha);
    cairo_restore(cr);
  }
  cairo_status_t status = cairo_status(cr);
  if (status == CAIRO_STATUS_SUCCESS) status = cairo_surface_status(surface);
  cairo_destroy(cr);
  cairo_surface_flush(surface);
  cairo_surface_destroy(surface);
  if (result == BandResult::kDrawn && status != CAIRO_STATUS_SUCCESS) {
    failure = std::string("Drawing the image failed: ") + cairo_status_to_string(status) + ".";
    result = BandResult::kFailed;
  }
  return result;
}

}  // namespace

CapturedImagePtr renderScene(const Scene& scene, const Rect& region, int64_t width, int64_t height,
                             const std::function<bool(size_t)>& include, PixelFormat format,
                             const RenderControl& control) {
  auto fail = [&control](std::string why) -> CapturedImagePtr {
    if (control.failure) *control.failure = std::move(why);
    return nullptr;
  };
  if (width <= 0 || height <= 0 || width > 32768 || height > 32768 || region.width <= 0 ||
      region.height <= 0) {
    return nullptr;
  }
  std::shared_ptr<CapturedImage> image;
  try {
    image = std::make_shared<CapturedImage>();
    image->width = width;
    image->height = height;
    image->bytesPerRow = paddedStride(width);
    image->format = format;
    const auto size = static_cast<size_t>(image->bytesPerRow * height);
    if (!canAllocate(size)) throw std::bad_alloc();
    image->pixels.assign(size, 0);
  } catch (const std::bad_alloc&) {
    return fail("Not enough memory for a " + std::to_string(width) + " x " +
                std::to_string(height) + " image.");
  }

  const cairo_format_t cairoFormat =
      format == PixelFormat::kBGRX ? CAIRO_FORMAT_RGB24 : CAIRO_FORMAT_ARGB32;
  const int64_t stride = image->bytesPerRow;
  const int64_t bandRows = std::max<int64_t>(1, kRenderBandBytes / stride);
  for (int64_t firstRow = 0; firstRow < height; firstRow += bandRows) {
    if (control.cancelled && control.cancelled()) return fail("The capture was cancelled.");
    const int64_t rows = std::min(bandRows, height - firstRow);
    std::string failure;
    const BandResult band = drawBand(scene, region, width, height, include, cairoFormat,
                                     image->pixels.data() + firstRow * stride, firstRow, rows,
                                     stride, control, failure);
    if (band == BandResult::kCancelled) return fail("The capture was cancelled.");
    if (band == BandResult::kFailed) return fail(std::move(failure));
  }

  if (format == PixelFormat::kRGBAStraight) {
    for (int64_t y = 0; y < height; ++y) {
      toStraightRGBA(image->pixels.data() + y * image->bytesPerRow, width);
    }
  }
  return image;
}

CapturedImagePtr RenderCache::render(const Scene& scene, const Rect& region, int64_t width,
                                     int64_t height, const std::function<bool(size_t)>& include,
                                     PixelFormat format, const RenderControl& control) {
  std::vector<bool> included(scene.windows.size());
  for (size_t k = 0; k < included.size(); ++k) included[k] = include(k);
  auto matches = [&](const Entry& e) {
    return e.width == width && e.height == height && e.format == format && e.region == region &&
           e.included == included && e.scene == scene;
  };
  {
    std::lock_guard<std::mutex> lock(mutex_);
    for (auto it = entries_.begin(); it != entries_.end(); ++it) {
      if (!matches(*it)) continue;
      std::rotate(it, it + 1, entries_.end());
      return entries_.back().image;
    }
  }
  // Drawn outside the lock: another thread may render something else meanwhile.
  CapturedImagePtr image = renderScene(scene, region, width, height, include, format, control);
  std::lock_guard<std::mutex> lock(mutex_);
  ++drawn_;
  if (!image) return image;
  const size_t size = image->pixels.size();
  if (size > kMaxBytes) return image;
  while (!entries_.empty() && (entries_.size() >= kCapacity || bytes_ + size > kMaxBytes)) {
    bytes_ -= entries_.front().image->pixels.size();
    entries_.erase(entries_.begin());
  }
  try {
    entries_.push_back({scene, region, width, height, std::move(included), format, image});
    bytes_ += size;
  } catch (const std::bad_alloc&) {
    // Not kept: the rendering is still handed out.
  }
  return image;
}

size_t RenderCache::drawn() const {
  std::lock_guard<std::mutex> lock(mutex_);
  return drawn_;
}

size_t RenderCache::bytes() const {
  std::lock_guard<std::mutex> lock(mutex_);
  return bytes_;
}

size_t RenderCache::entries() const {
  std::lock_guard<std::mutex> lock(mutex_);
  return entries_.size();
}

void RenderCache::clear() {
  std::lock_guard<std::mutex> lock(mutex_);
  entries_.clear();
  bytes_ = 0;
}

}  // namespace dravel::sim
