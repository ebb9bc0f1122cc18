// What the main window does differently on each display system. The window
// itself (LinuxWindow) is the toolkit's top-level window and the states it
// passes through; the display system's part maps it, gives it focus, makes
// it the overlay and reads what the server or compositor reports about it.
// On X11 that is the X server and the window manager (x11/x11_window_system);
// on Wayland, the compositor (wayland/wayland_window_system).
#pragma once

#include <cstdint>

#include "platform/linux/session/screen_layout.h"
#include "platform/seam/geometry.h"

typedef struct _GtkWidget GtkWidget;
typedef union _GdkEvent GdkEvent;

namespace dravel::linux_platform {

class LinuxWindow;

class WindowSystem {
 public:
  virtual ~WindowSystem() = default;

  // Once, when the toolkit window exists and is realized; the window
  // outlives the part until detach.
  virtual void attach(LinuxWindow& window) = 0;
  // Once, before the toolkit window goes.
  virtual void detach() = 0;
  // The number the host knows the window by.
  virtual int64_t windowNumber() const = 0;

  // The window manager's frame around the content; none without one.
  virtual FrameExtents managerExtents() const { return {}; }
  // Asks for the frame's size before the window maps; reads it again.
  virtual void requestFrameExtents() {}
  virtual void readFrameExtents() {}
  // The window gained or lost its decorations.
  virtual void decorationsChanged() {}
  // After the toolkit was given the wanted geometry: tells the server too.
  virtual void geometryApplied() {}

  // A hidden window starts to show.
  virtual void showStarted() {}
  // Whether the overlay, now waiting, may not map yet; the part then calls
  // the window's mapWhenReady once it may (which it may do at once).
  virtual bool overlayMustWait() = 0;
  // Maps the window in the state the window has just entered (mapping or
  // overlay mapping).
  virtual void map(bool focus) = 0;
  // Unmaps the window just hidden; `wasOverlay`: it was mapped as the
  // overlay.
  virtual void unmap(bool wasOverlay) = 0;
  // Gives the shown window the keyboard.
  virtual void takeFocus() = 0;
  virtual bool holdsGrabs() const { return false; }

  // What shows the overlay instead of the top-level window, else null.
  virtual GtkWidget* overlaySurface() const { return nullptr; }
  // The pointer in window coordinates, where the display system tells.
  virtual Point pointerInWindow() const { return {}; }
  // The window's opacity was set.
  virtual void opacityChanged(double) {}

  // The server's or compositor's reports on the window. mapReported answers
  // whether the map is the current one; unmapReported whether someone else
  // unmapped a window meant to be shown (`meantShown`).
  virtual void configured(const GdkEvent& event) = 0;
  virtual bool mapReported() { return true; }
  virtual bool unmapReported(bool meantShown) { return meantShown; }
  virtual void propertyChanged(const GdkEvent&) {}
  virtual void grabBroken() {}
};

}  // namespace dravel::linux_platform
