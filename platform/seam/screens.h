// Screens: frames in global bottom-left space, scale, device description.
//
// Global coordinates, as every implementation gives them and the geometry code
// relies on:
// * bottom-left space: the origin is the bottom-left corner of the primary
//   screen, y grows upward; screen frames and the pointer are in it;
// * top-left space (the window list's bounds): the origin is the top-left
//   corner of the primary screen, y grows downward; a rectangle flips between
//   the two by the primary screen's height.
// The primary screen is the first of `Screens::screens()`, so its frame's
// origin is (0, 0) and other screens lie around it, at negative coordinates
// when left of or below it.
#pragma once

#include <memory>
#include <vector>

#include "channels/value.h"
#include "platform/seam/geometry.h"

namespace dravel {

class Screen {
 public:
  virtual ~Screen() = default;
  // In global bottom-left space, in points.
  virtual Rect frame() const = 0;
  // Pixels per point.
  virtual double backingScaleFactor() const = 0;
  // The device description as the platform gives it (keys such as
  // "NSScreenNumber"; values of any type).
  virtual ValueMap deviceDescription() const = 0;
};

using ScreenPtr = std::shared_ptr<Screen>;

class Screens {
 public:
  virtual ~Screens() = default;
  // All screens in the system's order; the first is the primary screen, whose
  // bottom-left corner is the origin (0, 0) of global coordinates.
  virtual std::vector<ScreenPtr> screens() = 0;
  // The screen with the key window, or none.
  virtual ScreenPtr mainScreen() = 0;
};

}  // namespace dravel
