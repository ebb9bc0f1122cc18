// Input: the pointer, mouse buttons and synthetic mouse events.
#pragma once

#include <cstdint>
#include <memory>
#include <optional>

#include "platform/seam/geometry.h"

namespace dravel {

// Raw event types, as the platform numbers them.
enum EventType : int {
  kLeftMouseDown = 1,
  kLeftMouseUp = 2,
  kRightMouseDown = 3,
  kRightMouseUp = 4,
  kMouseMoved = 5,
  kLeftMouseDragged = 6,
  kRightMouseDragged = 7,
  kKeyDown = 10,
  kOtherMouseDown = 25,
  kOtherMouseUp = 26,
};

struct MouseEvent {
  int type = 0;
  Point locationInWindow;  // window coordinates, origin at the bottom left
  uint64_t modifierFlags = 0;
  double timestamp = 0;
  int64_t windowNumber = 0;
  int64_t eventNumber = 0;
  int64_t clickCount = 0;
  double pressure = 0;
  // The platform's own event this one was made from, if any, kept alive
  // with it (what it points to is the platform's business).
  std::shared_ptr<const void> nativeEvent;
  bool operator==(const MouseEvent&) const = default;
};

class Input {
 public:
  virtual ~Input() = default;
  // The pointer in global bottom-left space.
  virtual Point mouseLocation() = 0;
  // Bit 0 the left button, bit 1 the right, bit 2 and up the others.
  virtual uint64_t pressedMouseButtons() = 0;
  // Seconds since the system started.
  virtual double systemUptime() = 0;
  // Builds a synthetic mouse event; absent when the platform cannot.
  virtual std::optional<MouseEvent> mouseEvent(int type, Point location, uint64_t modifierFlags,
                                               double timestamp, int64_t windowNumber,
                                               int64_t eventNumber, int64_t clickCount,
                                               double pressure) = 0;
  // Hides the pointer until the user moves the mouse.
  virtual void setCursorHiddenUntilMouseMoves(bool hidden) = 0;
};

}  // namespace dravel
