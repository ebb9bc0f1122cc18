// Screens: frames in global bottom-left space, scale, device description.
#pragma once

#include <memory>
#include <vector>

#include "channels/value.h"
#include "platform/geometry.h"

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
  // All screens in the system's order; the first is the primary screen.
  virtual std::vector<ScreenPtr> screens() = 0;
  // The screen with the key window, or none.
  virtual ScreenPtr mainScreen() = 0;
};

}  // namespace dravel
