// A small 2D drawing vocabulary: colours of the system, attributed text,
// Bézier paths and the graphics context that they draw into, with the
// rendering of the seam's fonts, text measurement and images drawn on demand
// (font.h, text_system.h, image.h). The context is backed by Cairo, text by
// Pango; every platform shares this renderer. Coordinates are points with the origin at the
// bottom left and y going up, as the views use them.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "platform/seam/font.h"
#include "platform/seam/geometry.h"
#include "platform/seam/image.h"
#include "platform/seam/text_system.h"

typedef struct _cairo cairo_t;
typedef struct _cairo_surface cairo_surface_t;

namespace dravel {

// The seam's text system, measuring through Pango.
class PangoTextSystem : public TextSystem {
 public:
  Size sizeOfString(const std::string& text, const Font& font) override;
};

// The system's named text colours (their usual look on a light menu).
Color labelColor();
Color secondaryLabelColor();
Color disabledControlTextColor();
Color selectedMenuItemTextColor();
// The emphasized selection material of a visual-effect view (the accent colour).
Color selectionMaterialColor();

// Text with the attributes it is drawn with.
struct AttributedString {
  std::string string;
  Font font;
  Color foregroundColor = Color::black();

  // Measured with the platform's text system.
  Size size() const;
  // Draws the text with its line box's bottom-left corner at `point`, in the
  // current graphics context. Does nothing without one.
  void drawAtPoint(Point point) const;
  // Draws the text inside `rect`, aligned left (0) or right (1), at the top.
  void drawInRect(const Rect& rect, int alignment) const;
};

enum class LineJoinStyle { kMiter = 0, kRound = 1, kBevel = 2 };

// A drawing destination. One context is "current" at a time on a thread;
// images' drawing handlers and paths draw into it.
class GraphicsContext {
 public:
  // Draws into `surface` (an ARGB32 image surface) at `scale` pixels per
  // point, with the point-space origin at the surface's bottom left.
  GraphicsContext(cairo_surface_t* surface, double scale);
  ~GraphicsContext();
  GraphicsContext(const GraphicsContext&) = delete;
  GraphicsContext& operator=(const GraphicsContext&) = delete;

  // The current context of this thread, or null.
  static GraphicsContext* current();

  // The low-level Cairo context.
  cairo_t* cairo() const { return cr_; }
  double scale() const { return scale_; }

  void saveGraphicsState();
  void restoreGraphicsState();
  void translate(double x, double y);
  void rotate(double radians);
  void scaleBy(double sx, double sy);
  void clipToRoundedRect(const Rect& rect, double radius);

  void setFillColor(const Color& color) { fill_ = color; }
  void setStrokeColor(const Color& color) { stroke_ = color; }
  const Color& fillColor() const { return fill_; }
  const Color& strokeColor() const { return stroke_; }

 private:
  friend class ScopedCurrentContext;
  cairo_t* cr_;
  double scale_;
  Color fill_ = Color::black();
  Color stroke_ = Color::black();
  std::vector<std::pair<Color, Color>> savedColors_;
};

// Makes a context current for its lifetime (and restores the previous one).
class ScopedCurrentContext {
 public:
  explicit ScopedCurrentContext(GraphicsContext* context);
  ~ScopedCurrentContext();
  ScopedCurrentContext(const ScopedCurrentContext&) = delete;
  ScopedCurrentContext& operator=(const ScopedCurrentContext&) = delete;

 private:
  GraphicsContext* previous_;
};

// A path of straight segments and closed subpaths, stroked and filled with
// the current context's colours.
class BezierPath {
 public:
  static BezierPath bezierPathWithRoundedRect(const Rect& rect, double xRadius, double yRadius);

  void moveToPoint(Point p);
  void lineToPoint(Point p);
  void closePath();
  void setLineWidth(double width) { lineWidth_ = width; }
  void setLineJoinStyle(LineJoinStyle style) { lineJoin_ = style; }

  // Draw into the current context; nothing without one.
  void fill() const;
  void stroke() const;

  struct Element {
    enum Kind { kMove, kLine, kCurve, kClose } kind;
    Point points[3];
  };
  const std::vector<Element>& elements() const { return elements_; }
  // Replaces the Cairo context's current path with this one.
  void appendTo(cairo_t* cr) const;

 private:
  std::vector<Element> elements_;
  double lineWidth_ = 1.0;
  LineJoinStyle lineJoin_ = LineJoinStyle::kMiter;
};

// Pixels rendered from a drawing: 8-bit RGBA, straight alpha, top row first.
struct Bitmap {
  int width = 0;
  int height = 0;
  std::vector<uint8_t> rgba;

  struct Pixel {
    uint8_t r, g, b, a;
  };
  Pixel at(int x, int y) const {
    const uint8_t* p = &rgba[(static_cast<size_t>(y) * width + x) * 4];
    return {p[0], p[1], p[2], p[3]};
  }
  // The pixel under a point of the drawing's point space (bottom-left origin).
  Pixel atPoint(double x, double y, double scale) const;
};

// Renders `draw` into a transparent bitmap of `size` points at `scale`, with a
// current context for the duration.
Bitmap renderToBitmap(Size size, double scale, const std::function<void(GraphicsContext&)>& draw);
// Renders an image at its own size.
Bitmap renderImage(const Image& image, double scale);

}  // namespace dravel
