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

// True when the two rectangles overlap in an area greater than zero.
inline bool rectsIntersect(const Rect& a, const Rect& b) {
  if (a.width <= 0 || a.height <= 0 || b.width <= 0 || b.height <= 0) return false;
  return std::max(a.minX(), b.minX()) < std::min(a.maxX(), b.maxX()) &&
         std::max(a.minY(), b.minY()) < std::min(a.maxY(), b.maxY());
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
  static Color windowBackground() {
    return {0.925, 0.925, 0.925, 1, "windowBackgroundColor"};
  }
  static Color rgba(double r, double g, double b, double a) { return {r, g, b, a, ""}; }
  bool operator==(const Color&) const = default;
};

}  // namespace dravel
