// The main window as the platform gives it: the host's window class adds its
// own behaviour on top (it overrides event dispatch, close and order out).
#pragma once

#include <cstdint>
#include <functional>
#include <optional>

#include "platform/seam/input.h"
#include "platform/seam/geometry.h"

namespace dravel {

class FlutterViewController;

// Window style mask bits.
enum WindowStyle : uint64_t {
  kWindowStyleBorderless = 0,
  kWindowStyleTitled = 1 << 0,
  kWindowStyleClosable = 1 << 1,
  kWindowStyleMiniaturizable = 1 << 2,
  kWindowStyleResizable = 1 << 3,
  kWindowStyleFullSizeContentView = 1 << 15,
};

// Window collection behaviour bits.
enum WindowCollection : uint64_t {
  kCollectionCanJoinAllSpaces = 1 << 0,
  kCollectionMoveToActiveSpace = 1 << 1,
  kCollectionStationary = 1 << 4,
  kCollectionIgnoresCycle = 1 << 6,
  kCollectionFullScreenAuxiliary = 1 << 8,
};

// What the host's window class overrides: the platform calls these instead
// of its own behaviour once the host has installed them.
struct NativeWindowOverrides {
  // A close request from the user or the window manager.
  std::function<void()> close;
  // The platform ordering the window out by its own means.
  std::function<void()> orderOut;
  // Whether the window may take keyboard focus.
  std::function<bool()> canBecomeKey;
};

class NativeWindow {
 public:
  virtual ~NativeWindow() = default;

  virtual Rect frame() const = 0;
  virtual void setFrame(const Rect& frame, bool display) = 0;
  virtual uint64_t styleMask() const = 0;
  virtual void setStyleMask(uint64_t mask) = 0;
  virtual int64_t level() const = 0;
  virtual void setLevel(int64_t level) = 0;
  virtual uint64_t collectionBehavior() const = 0;
  virtual void setCollectionBehavior(uint64_t behavior) = 0;
  virtual bool hasShadow() const = 0;
  virtual void setHasShadow(bool flag) = 0;
  virtual bool isMovable() const = 0;
  virtual void setMovable(bool flag) = 0;
  virtual bool isOpaque() const = 0;
  virtual void setOpaque(bool flag) = 0;
  virtual Color backgroundColor() const = 0;
  virtual void setBackgroundColor(const Color& color) = 0;
  virtual double alphaValue() const = 0;
  virtual void setAlphaValue(double alpha) = 0;

  // The window's own ordering, without the host's additions.
  virtual void orderOut() = 0;
  virtual void orderFrontRegardless() = 0;
  virtual void makeKeyAndOrderFront() = 0;
  virtual bool isVisible() const = 0;
  virtual bool isMiniaturized() const = 0;
  virtual void deminiaturize() = 0;

  // The window server's id of this window.
  virtual int64_t windowNumber() const = 0;
  virtual bool hasAttachedSheet() const = 0;
  // The content view's frame in window coordinates; absent without a content view.
  virtual std::optional<Rect> contentViewFrame() const = 0;
  virtual void setContentViewController(FlutterViewController* controller) = 0;
  // The pointer in window coordinates.
  virtual Point mouseLocationOutsideOfEventStream() const = 0;

  // The platform's own event dispatch, which the host's window falls back on.
  virtual void sendEventInherited(const MouseEvent& event) = 0;
  // Where the platform delivers events for this window; the host installs its
  // dispatch here. Without one, events take the platform's own path.
  virtual void setEventDispatcher(std::function<void(const MouseEvent&)> dispatcher) = 0;
  // Installs the host's overrides (empty ones: the platform's own behaviour).
  virtual void setOverrides(NativeWindowOverrides overrides) = 0;
};

}  // namespace dravel
