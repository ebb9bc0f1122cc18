#include <cairo.h>
#include <pango/pangocairo.h>

#include <algorithm>
#include <cmath>

#include "platform/seam/platform.h"
#include "platform/shared/cairo_pixels.h"
#include "platform/shared/drawing.h"

namespace dravel {
namespace {

thread_local GraphicsContext* gCurrentContext = nullptr;

// The face every font is rendered with: always installed with the toolkit.
constexpr const char* kRenderFamily = "DejaVu Sans";

PangoFontDescription* describe(const Font& font) {
  PangoFontDescription* d = pango_font_description_new();
  pango_font_description_set_family(d, font.family.empty() ? kRenderFamily : font.family.c_str());
  // One Pango unit of absolute size per point of user space.
  pango_font_description_set_absolute_size(d, font.pointSize * PANGO_SCALE);
  pango_font_description_set_weight(
      d, font.weight == FontWeight::kSemibold ? PANGO_WEIGHT_SEMIBOLD : PANGO_WEIGHT_NORMAL);
  return d;
}

// A one-line layout of `text` whose metrics do not depend on the device scale.
PangoLayout* makeLayout(cairo_t* cr, const std::string& text, const Font& font) {
  PangoLayout* layout = pango_cairo_create_layout(cr);
  cairo_font_options_t* options = cairo_font_options_create();
  cairo_font_options_set_hint_metrics(options, CAIRO_HINT_METRICS_OFF);
  cairo_font_options_set_hint_style(options, CAIRO_HINT_STYLE_NONE);
  PangoContext* context = pango_layout_get_context(layout);
  pango_cairo_context_set_font_options(context, options);
  pango_context_set_round_glyph_positions(context, FALSE);
  cairo_font_options_destroy(options);
  pango_layout_context_changed(layout);
  PangoFontDescription* d = describe(font);
  pango_layout_set_font_description(layout, d);
  pango_font_description_free(d);
  pango_layout_set_text(layout, text.c_str(), static_cast<int>(text.size()));
  return layout;
}

Size logicalSize(PangoLayout* layout) {
  PangoRectangle logical;
  pango_layout_get_extents(layout, nullptr, &logical);
  return {static_cast<double>(logical.width) / PANGO_SCALE,
          static_cast<double>(logical.height) / PANGO_SCALE};
}

void setSource(cairo_t* cr, const Color& c) {
  cairo_set_source_rgba(cr, c.red, c.green, c.blue, c.alpha);
}

}  // namespace

Font Font::menuFontOfSize(double size) {
  return {kRenderFamily, size > 0 ? size : kMenuFontDefaultSize, FontWeight::kRegular};
}

Font Font::systemFontOfSize(double size, FontWeight weight) {
  return {kRenderFamily, size, weight};
}

Size PangoTextSystem::sizeOfString(const std::string& text, const Font& font) {
  cairo_surface_t* surface = cairo_image_surface_create(CAIRO_FORMAT_ARGB32, 1, 1);
  cairo_t* cr = cairo_create(surface);
  PangoLayout* layout = makeLayout(cr, text, font);
  Size size = logicalSize(layout);
  g_object_unref(layout);
  cairo_destroy(cr);
  cairo_surface_destroy(surface);
  return size;
}

Color labelColor() {
  return {0, 0, 0, 0.85, "labelColor"};
}
Color secondaryLabelColor() {
  return {0, 0, 0, 0.5, "secondaryLabelColor"};
}
Color disabledControlTextColor() {
  return {0, 0, 0, 0.25, "disabledControlTextColor"};
}
Color selectedMenuItemTextColor() {
  return {1, 1, 1, 1, "selectedMenuItemTextColor"};
}
Color selectionMaterialColor() {
  return {0.0, 0.388, 0.882, 1, "selectionMaterial"};
}

// ---- Text ----

Size AttributedString::size() const {
  return platform().textSystem().sizeOfString(string, font);
}

void AttributedString::drawAtPoint(Point point) const {
  GraphicsContext* ctx = GraphicsContext::current();
  if (!ctx || string.empty()) return;
  cairo_t* cr = ctx->cairo();
  // The platform's measurement decides the line box; Pango's glyphs are fitted
  // into it, so what is drawn occupies exactly what layout reserved.
  const Size box = size();
  cairo_save(cr);
  cairo_translate(cr, point.x, point.y + box.height);
  cairo_scale(cr, 1, -1);
  PangoLayout* layout = makeLayout(cr, string, font);
  const Size real = logicalSize(layout);
  cairo_translate(cr, 0, (box.height - real.height) * 0.5);
  // No pango_cairo_update_layout after this: Pango would lay the text out
  // again for the stretched matrix and undo the fit.
  if (real.width > 0 && box.width > 0) cairo_scale(cr, box.width / real.width, 1);
  setSource(cr, foregroundColor);
  cairo_move_to(cr, 0, 0);
  pango_cairo_show_layout(cr, layout);
  g_object_unref(layout);
  cairo_restore(cr);
}

void AttributedString::drawInRect(const Rect& rect, int alignment) const {
  const Size s = size();
  const double x = alignment == 1 ? rect.maxX() - s.width : rect.minX();
  drawAtPoint({x, rect.maxY() - s.height});
}

// ---- Graphics context ----

GraphicsContext::GraphicsContext(cairo_surface_t* surface, double scale)
    : cr_(cairo_create(surface)), scale_(scale) {
  cairo_translate(cr_, 0, cairo_image_surface_get_height(surface));
  cairo_scale(cr_, scale, -scale);
}

GraphicsContext::~GraphicsContext() {
  if (gCurrentContext == this) gCurrentContext = nullptr;
  cairo_destroy(cr_);
}

GraphicsContext* GraphicsContext::current() {
  return gCurrentContext;
}

void GraphicsContext::saveGraphicsState() {
  cairo_save(cr_);
  savedColors_.push_back({fill_, stroke_});
}

void GraphicsContext::restoreGraphicsState() {
  cairo_restore(cr_);
  if (!savedColors_.empty()) {
    fill_ = savedColors_.back().first;
    stroke_ = savedColors_.back().second;
    savedColors_.pop_back();
  }
}

void GraphicsContext::translate(double x, double y) {
  cairo_translate(cr_, x, y);
}
void GraphicsContext::rotate(double radians) {
  cairo_rotate(cr_, radians);
}
void GraphicsContext::scaleBy(double sx, double sy) {
  cairo_scale(cr_, sx, sy);
}

void GraphicsContext::clipToRoundedRect(const Rect& rect, double radius) {
  BezierPath::bezierPathWithRoundedRect(rect, radius, radius).appendTo(cr_);
  cairo_clip(cr_);
}

ScopedCurrentContext::ScopedCurrentContext(GraphicsContext* context) : previous_(gCurrentContext) {
  gCurrentContext = context;
}

ScopedCurrentContext::~ScopedCurrentContext() {
  gCurrentContext = previous_;
}

// ---- Paths ----

BezierPath BezierPath::bezierPathWithRoundedRect(const Rect& r, double xRadius, double yRadius) {
  BezierPath path;
  const double rx = std::clamp(xRadius, 0.0, r.width * 0.5);
  const double ry = std::clamp(yRadius, 0.0, r.height * 0.5);
  if (rx <= 0 || ry <= 0) {
    path.moveToPoint({r.minX(), r.minY()});
    path.lineToPoint({r.maxX(), r.minY()});
    path.lineToPoint({r.maxX(), r.maxY()});
    path.lineToPoint({r.minX(), r.maxY()});
    path.closePath();
    return path;
  }
  // Quarter ellipses as cubic curves.
  constexpr double k = 0.5522847498307936;
  auto curve = [&path](Point c1, Point c2, Point end) {
    path.elements_.push_back({Element::kCurve, {c1, c2, end}});
  };
  path.moveToPoint({r.minX() + rx, r.minY()});
  path.lineToPoint({r.maxX() - rx, r.minY()});
  curve({r.maxX() - rx + k * rx, r.minY()}, {r.maxX(), r.minY() + ry - k * ry},
        {r.maxX(), r.minY() + ry});
  path.lineToPoint({r.maxX(), r.maxY() - ry});
  curve({r.maxX(), r.maxY() - ry + k * ry}, {r.maxX() - rx + k * rx, r.maxY()},
        {r.maxX() - rx, r.maxY()});
  path.lineToPoint({r.minX() + rx, r.maxY()});
  curve({r.minX() + rx - k * rx, r.maxY()}, {r.minX(), r.maxY() - ry + k * ry},
        {r.minX(), r.maxY() - ry});
  path.lineToPoint({r.minX(), r.minY() + ry});
  curve({r.minX(), r.minY() + ry - k * ry}, {r.minX() + rx - k * rx, r.minY()},
        {r.minX() + rx, r.minY()});
  path.closePath();
  return path;
}

void BezierPath::moveToPoint(Point p) {
  elements_.push_back({Element::kMove, {p, {}, {}}});
}
void BezierPath::lineToPoint(Point p) {
  elements_.push_back({Element::kLine, {p, {}, {}}});
}
void BezierPath::closePath() {
  elements_.push_back({Element::kClose, {}});
}

void BezierPath::appendTo(cairo_t* cr) const {
  cairo_new_path(cr);
  for (const auto& e : elements_) {
    switch (e.kind) {
      case Element::kMove:
        cairo_move_to(cr, e.points[0].x, e.points[0].y);
        break;
      case Element::kLine:
        cairo_line_to(cr, e.points[0].x, e.points[0].y);
        break;
      case Element::kCurve:
        cairo_curve_to(cr, e.points[0].x, e.points[0].y, e.points[1].x, e.points[1].y,
                       e.points[2].x, e.points[2].y);
        break;
      case Element::kClose:
        cairo_close_path(cr);
        break;
    }
  }
}

void BezierPath::fill() const {
  GraphicsContext* ctx = GraphicsContext::current();
  if (!ctx) return;
  cairo_t* cr = ctx->cairo();
  cairo_save(cr);
  appendTo(cr);
  cairo_set_fill_rule(cr, CAIRO_FILL_RULE_WINDING);
  setSource(cr, ctx->fillColor());
  cairo_fill(cr);
  cairo_restore(cr);
}

void BezierPath::stroke() const {
  GraphicsContext* ctx = GraphicsContext::current();
  if (!ctx) return;
  cairo_t* cr = ctx->cairo();
  cairo_save(cr);
  appendTo(cr);
  cairo_set_line_width(cr, lineWidth_);
  cairo_set_line_join(cr, lineJoin_ == LineJoinStyle::kRound   ? CAIRO_LINE_JOIN_ROUND
                          : lineJoin_ == LineJoinStyle::kBevel ? CAIRO_LINE_JOIN_BEVEL
                                                               : CAIRO_LINE_JOIN_MITER);
  cairo_set_line_cap(cr, CAIRO_LINE_CAP_BUTT);
  setSource(cr, ctx->strokeColor());
  cairo_stroke(cr);
  cairo_restore(cr);
}

// ---- Images ----

std::shared_ptr<Image> Image::imageWithSize(Size size, bool flipped, DrawingHandler handler) {
  return std::shared_ptr<Image>(new Image(size, flipped, std::move(handler)));
}

bool Image::drawInRect(const Rect& rect) const {
  GraphicsContext* ctx = GraphicsContext::current();
  if (!ctx || !handler_ || size_.width <= 0 || size_.height <= 0) return false;
  ctx->saveGraphicsState();
  ctx->translate(rect.x, rect.y);
  ctx->scaleBy(rect.width / size_.width, rect.height / size_.height);
  if (flipped_) {
    ctx->translate(0, size_.height);
    ctx->scaleBy(1, -1);
  }
  const bool ok = handler_(Rect{0, 0, size_.width, size_.height});
  ctx->restoreGraphicsState();
  return ok;
}

// ---- Bitmaps ----

Bitmap::Pixel Bitmap::atPoint(double x, double y, double scale) const {
  int px = static_cast<int>(std::floor(x * scale));
  int py = height - 1 - static_cast<int>(std::floor(y * scale));
  px = std::clamp(px, 0, std::max(0, width - 1));
  py = std::clamp(py, 0, std::max(0, height - 1));
  return at(px, py);
}

Bitmap renderToBitmap(Size size, double scale, const std::function<void(GraphicsContext&)>& draw) {
  Bitmap bitmap;
  bitmap.width = std::max(1, static_cast<int>(std::ceil(size.width * scale - 1e-9)));
  bitmap.height = std::max(1, static_cast<int>(std::ceil(size.height * scale - 1e-9)));
  cairo_surface_t* surface =
      cairo_image_surface_create(CAIRO_FORMAT_ARGB32, bitmap.width, bitmap.height);
  {
    GraphicsContext ctx(surface, scale);
    ScopedCurrentContext current(&ctx);
    draw(ctx);
  }
  bitmap.rgba.resize(static_cast<size_t>(bitmap.width) * bitmap.height * 4);
  straightRgbaFromSurface(surface, bitmap.rgba.data());
  cairo_surface_destroy(surface);
  return bitmap;
}

Bitmap renderImage(const Image& image, double scale) {
  return renderToBitmap(image.size(), scale, [&image](GraphicsContext&) {
    image.drawInRect({0, 0, image.size().width, image.size().height});
  });
}

}  // namespace dravel
