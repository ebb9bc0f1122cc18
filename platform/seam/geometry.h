// Points, sizes, rectangles and colours, in points.
#pragma once

#include <algorithm>
#include <string>

namespace dravel {

struct Point {
  double x = 0;
  double y = 0;
  bool operator==(const Point&) const = default;
};

struct Size {
  double width = 0;
  double height = 0;
  bool operator==(const Size&) const = default;
};

struct Rect {
  double x = 0;
  double y = 0;
  double width = 0;
  double height = 0;

  double minX() const { return x; }
  double minY() const { return y; }
  double maxX() const { return x + width; }
  double maxY() const { return y + height; }
  Point origin() const { return {x, y}; }
  Size size() const { return {width, height}; }
  bool operator==(const Rect&) const = default;
};

// The platform's mouse-in-rectangle test for an unflipped rectangle (origin at
// the bottom left): the left and top edges are inside, the right and bottom
// edges outside, so a point on a border shared by two rectangles lies in
// exactly one of them.
inline bool mouseInRect(Point p, const Rect& r) {
  return p.x >= r.minX() && p.x < r.maxX() && p.y > r.minY() && p.y <= r.maxY();
}

// The platform's rectangle-intersection test: true unless the intersection
// is null, so rectangles that only touch along an edge or at a corner do
// intersect. Rectangles with a negative width or height are taken as the
// same rectangle with its origin moved to the other side.
inline bool rectsIntersect(const Rect& a, const Rect& b) {
  auto lo = [](double origin, double length) { return length < 0 ? origin + length : origin; };
  auto hi = [](double origin, double length) { return length < 0 ? origin : origin + length; };
  return std::max(lo(a.x, a.width), lo(b.x, b.width)) <=
             std::min(hi(a.x, a.width), hi(b.x, b.width)) &&
         std::max(lo(a.y, a.height), lo(b.y, b.height)) <=
             std::min(hi(a.y, a.height), hi(b.y, b.height));
}

// An sRGB colour, or one of the system's named colours (which the platform
// resolves itself; `name` is then set and the components are its usual look).
struct Color {
  double red = 0;
  double green = 0;
  double blue = 0;
  double alpha = 0;
  std::string name;

  static Color clear() { return {0, 0, 0, 0, "clearColor"}; }
  static Color black() { return {0, 0, 0, 1, "blackColor"}; }
  static Color white() { return {1, 1, 1, 1, "whiteColor"}; }
  static Color windowBackground() { return {0.925, 0.925, 0.925, 1, "windowBackgroundColor"}; }
  static Color rgba(double r, double g, double b, double a) { return {r, g, b, a, ""}; }
  bool operator==(const Color&) const = default;
};

}  // namespace dravel
