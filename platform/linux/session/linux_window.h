// The main window on an X11 or Wayland desktop: a GTK 3 top-level window,
// which also serves as the full-screen capture overlay. This is the window
// both display systems share: its settings, its states, drawing and events.
// How it maps, takes focus, becomes the overlay and learns where it is, is
// the display system's part (window_system.h). What follows is X11; on
// Wayland (see "Wayland" at the end) the same object keeps the same state,
// and only the mapping differs.
//
// Coordinates. The seam speaks global bottom-left points; X speaks root-window
// pixels. The layout source gives the monitors and the scale that relate the
// two (DesktopLayout). The frame is the window's outer rectangle: with a
// window manager's decorations it includes them, as _NET_FRAME_EXTENTS gives
// them; before the window manager has said (a window never shown) the content
// rectangle stands for the frame. Window coordinates (events, the content
// frame, the pointer) have their origin at the frame's bottom-left corner;
// they use the toolkit's window scale, which the layout's scale must equal
// (both are the toolkit's integer scale), so that events need no layout.
//
// Levels. 0 is a normal managed window, below 0 one kept below, 1..999 one
// kept above the others (_NET_WM_STATE_ABOVE: still below menus, which are
// override-redirect). 1000 and above is the overlay: the window is mapped
// override-redirect (no window manager, no decorations, above panels) and,
// once key, grabs keyboard and pointer. Changing between the two modes while
// the window is shown unmaps and maps it again. A window that a window
// manager still holds in its frame (hidden from managed a moment ago) maps
// as the overlay only once the window manager has given it back to the root
// window; it counts as visible meanwhile.
//
// Ordering. The window's "visible" is the host's wish: shown and not
// iconified by the window manager (which is isMiniaturized). When anyone else
// unmaps the shown window (another client, the window manager withdrawing
// it) that is the platform ordering it out: the host's order-out override
// runs, or the window's own orderOut without one. An iconify is not an order
// out. Closing (the window manager's delete request) runs the host's close
// override, else hides the window; the window itself is never destroyed.
//
// Events. Button presses, releases and motion become the seam's mouse events
// in window coordinates, with the toolkit's event as nativeEvent (a GdkEvent,
// freed with the last copy). Their timestamp is the X server's time in
// seconds (its milliseconds since it started, wrapping after 49.7 days): it
// orders events among themselves but is not the clock of
// Input::systemUptime.
//
// Transparency. The window uses the screen's RGBA visual when there is one
// (chosen before the window exists, so its id never changes) and paints its
// own background. A window that is not opaque is see-through only with a
// compositing manager; without one it paints the overlay snapshot (the screen
// as it was just before the overlay mapped) under its background colour,
// since a see-through window would show black there. The alpha value becomes
// the toolkit's window opacity (_NET_WM_WINDOW_OPACITY), which likewise only
// a compositing manager honours. The shadow and movability are kept for the
// host and change nothing on X: there are no shadows without a compositing
// manager, and the window manager's move function is the toolkit's to set.
// Every getter returns exactly what was set.
//
// Frame reports. The frame is what was set until the server and the window
// manager report on the window after that request; from then on it is where
// the window really is (moved by the user, or placed otherwise by the window
// manager), kept exactly as set as long as it names the same pixels.
//
// Wayland. Clients neither place toplevels nor learn where they are, and
// have no levels, grabs or global ids. The frame keeps the position it was
// given (in the compositor's logical pixels, scale 1 in the layout) and takes
// the size the compositor reports; the compositor places the window. Levels
// other than the overlay change nothing. The overlay is shown as
// wayland_overlay.h says, over the monitor its frame lies on, after the
// desktop's preparation (a look at the screen before the overlay covers it);
// it takes the keyboard by being the overlay, not by a grab, so holdsGrabs
// stays false. The window number is a number of the process's own.
//
// Adopted. Inside the interface's own process the main window is the
// toplevel that holds the interface's view, made and realized by the
// embedding: the window adopts it instead of making one. It is never
// destroyed or given another visual, and what the embedding does to it stays
// the embedding's: the close request, the cursor, drawing (the view draws
// itself) and the pointer and buttons (they go to the view). A map the host
// did not ask for is the embedding showing the window (its first frame):
// from then on the window counts as shown.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <optional>

#include "platform/linux/session/screen_layout.h"
#include "platform/linux/session/window_geometry.h"
#include "platform/linux/session/window_system.h"
#include "platform/seam/captured_image.h"
#include "platform/seam/native_window.h"

typedef struct _GtkWidget GtkWidget;
typedef union _GdkEvent GdkEvent;

namespace dravel::linux_platform {

// What the desktop attaches to the window; each may be empty. Windows are
// named by their window number.
struct LinuxWindowHooks {
  // Runs just before the window maps as the overlay (not yet mapped): from
  // within the call that shows it, or later on the main loop when the window
  // manager had first to let the window go.
  std::function<void(int64_t window)> beforeOverlayMaps;
  // Runs after the overlay has been unmapped (hidden, or left overlay mode
  // while shown).
  std::function<void(int64_t window)> overlayHidden;
  // The screen as it was before the overlay mapped, painted behind a window
  // that is not opaque when no compositing manager can show what lies below.
  std::function<std::shared_ptr<const CapturedImage>()> overlaySnapshot;
};

// The states the window passes through as the host shows and hides it.
// Mapping and overlay mapping last from the request to map until the server
// or compositor reports the window mapped; meanwhile the wanted geometry
// stands, and after it reports about the window move it.
enum class WindowState {
  kHidden,
  // The overlay is shown for the host but not mapped yet: it waits until the
  // window manager has let the window go (X11), or for the desktop's look at
  // the screen it will cover (Wayland).
  kWaiting,
  kMapping,
  kShown,
  kOverlayMapping,
  kOverlay,
};

class LinuxWindow : public NativeWindow {
 public:
  // The toolkit must be initialised (gtk_init_check) on the default main
  // context. The window is created hidden and realized, so that its number
  // exists at once; `system` is the display system's part. With `adopted`
  // (a GtkWindow), that toplevel is the window, realized if it is not yet.
  LinuxWindow(std::function<DesktopLayout()> layoutSource, LinuxWindowHooks hooks,
              std::unique_ptr<WindowSystem> system, GtkWidget* adopted = nullptr);
  ~LinuxWindow() override;
  LinuxWindow(const LinuxWindow&) = delete;
  LinuxWindow& operator=(const LinuxWindow&) = delete;

  Rect frame() const override;
  void setFrame(const Rect& frame, bool display) override;
  uint64_t styleMask() const override { return styleMask_; }
  void setStyleMask(uint64_t mask) override;
  int64_t level() const override { return level_; }
  void setLevel(int64_t level) override;
  uint64_t collectionBehavior() const override { return collection_; }
  void setCollectionBehavior(uint64_t behavior) override;
  bool hasShadow() const override { return shadow_; }
  void setHasShadow(bool flag) override { shadow_ = flag; }
  bool isMovable() const override { return movable_; }
  void setMovable(bool flag) override { movable_ = flag; }
  bool isOpaque() const override { return opaque_; }
  void setOpaque(bool flag) override;
  Color backgroundColor() const override { return background_; }
  void setBackgroundColor(const Color& color) override;
  double alphaValue() const override { return alpha_; }
  void setAlphaValue(double alpha) override;

  void orderOut() override;
  void orderFrontRegardless() override;
  void makeKeyAndOrderFront() override;
  bool isVisible() const override;
  bool isMiniaturized() const override;
  void deminiaturize() override;

  // The X id; off X, where windows have no global id, a number of the
  // process's own, stable for the window's life.
  int64_t windowNumber() const override { return system_->windowNumber(); }
  bool hasAttachedSheet() const override;
  std::optional<Rect> contentViewFrame() const override;
  void setContentViewController(FlutterViewController* controller) override {
    contentViewController_ = controller;
  }
  Point mouseLocationOutsideOfEventStream() const override { return system_->pointerInWindow(); }

  void sendEventInherited(const MouseEvent& event) override;
  void setEventDispatcher(std::function<void(const MouseEvent&)> dispatcher) override {
    dispatcher_ = std::move(dispatcher);
  }
  void setOverrides(NativeWindowOverrides overrides) override { overrides_ = std::move(overrides); }

  // For the application: the taskbar and pager hints its activation policy
  // asks for (accessory: no taskbar entry; prohibited: no pager either).
  void setApplicationHints(bool skipTaskbar, bool skipPager);
  // Gives the shown window the keyboard focus (the application's
  // activation). Does nothing while hidden or when the host says the window
  // cannot become key.
  void activate();
  // Orders the window out as the platform does by itself: through the host's
  // order-out override when there is one.
  void orderOutByPlatform();
  // Whether the window is in overlay mode (level 1000 and above).
  bool isOverlay() const { return level_ >= kOverlayLevel; }
  // Whether this window holds the keyboard and pointer grabs.
  bool holdsGrabs() const { return system_->holdsGrabs(); }
  // The content view controller set by the host (no view uses it here).
  FlutterViewController* contentViewController() const { return contentViewController_; }
  // Events that took the window's own path: without an embedded view there
  // is nothing to hand them to, so they are only counted.
  uint64_t inheritedEventCount() const { return inheritedEvents_; }
  // What shows the window now: the overlay's own surface while one serves
  // as the overlay, else the top-level window.
  GtkWidget* widget() const;
  // Runs when a surface of the window maps or its scale changes, for what
  // is set per surface and scale (the cursor).
  void setSurfaceObserver(std::function<void()> observer) {
    surfaceObserver_ = std::move(observer);
  }

  static constexpr int64_t kOverlayLevel = 1000;

  // For the display system's part.
  GtkWidget* toplevel() const { return window_; }
  const LinuxWindowHooks& hooks() const { return hooks_; }
  WindowState state() const { return state_; }
  bool isShown() const { return state_ != WindowState::kHidden; }
  bool mappedAsOverlay() const {
    return state_ == WindowState::kOverlayMapping || state_ == WindowState::kOverlay;
  }
  // The outer pixels the window stands for: as asked, until reports about
  // the shown window say where it really is.
  const DesktopLayout::PixelRect& outer() const { return wantedOuter_; }
  void setOuter(const DesktopLayout::PixelRect& outer) { wantedOuter_ = outer; }
  // The frame around the content now: none for the overlay.
  FrameExtents extents() const;
  // The frame the last geometry request allowed for.
  const FrameExtents& appliedExtents() const { return appliedExtents_; }
  int scale() const;
  bool canBecomeKey() const;
  // Gives the toolkit (and through the part, the server) the wanted
  // geometry.
  void applyGeometry();
  // Maps the waiting overlay now that it may (see kWaiting).
  void mapWhenReady();
  // Focus to take once the window can have it: when the window manager has
  // let it go, or when the server has mapped the overlay.
  bool focusPending() const { return focusPending_; }
  void setFocusPending(bool pending) { focusPending_ = pending; }
  // Hooks the window's handlers (drawing, pointer, map and unmap) to a
  // surface showing it.
  void connectSurface(GtkWidget* surface);

 private:
  struct Signals;
  friend struct Signals;

  DesktopLayout layout() const;
  void show(bool key);
  void map(bool focus);
  void hide();
  void applyTaskbarHints();
  void deliver(const MouseEvent& event);
  // Toolkit callbacks.
  bool onDelete();
  bool onDraw(void* cairo);
  bool onButton(GdkEvent* event);
  bool onMotion(GdkEvent* event);
  void onMap();
  void onUnmap();

  std::function<DesktopLayout()> layoutSource_;
  LinuxWindowHooks hooks_;
  std::unique_ptr<WindowSystem> system_;
  GtkWidget* window_ = nullptr;
  // Whether window_ is the embedding's toplevel (see Adopted).
  bool adopted_ = false;

  // The frame as last set (exact), and the outer pixels it stands for.
  Rect wantedFrame_{200, 200, 1000, 700};
  DesktopLayout::PixelRect wantedOuter_;
  // Whether size hints hold the window at one size (not resizable).
  bool fixedSizeHints_ = false;
  // The frame the last geometry request allowed for.
  FrameExtents appliedExtents_;

  uint64_t styleMask_ = kWindowStyleTitled | kWindowStyleClosable | kWindowStyleMiniaturizable |
                        kWindowStyleResizable;
  int64_t level_ = 0;
  uint64_t collection_ = 0;
  bool shadow_ = true;
  bool movable_ = true;
  bool opaque_ = true;
  Color background_ = Color::windowBackground();
  double alpha_ = 1.0;
  bool appSkipTaskbar_ = false;
  bool appSkipPager_ = false;

  // How far the host's request to show the window has got; a shown window
  // may still be iconified by the window manager.
  WindowState state_ = WindowState::kHidden;
  bool iconified_ = false;
  bool focusPending_ = false;
  // Whether the host asked for the window to be key since it was last hidden.
  bool wantsKey_ = false;

  FlutterViewController* contentViewController_ = nullptr;
  std::function<void(const MouseEvent&)> dispatcher_;
  NativeWindowOverrides overrides_;
  std::function<void()> surfaceObserver_;
  uint64_t inheritedEvents_ = 0;
  int64_t eventNumber_ = 0;
  // Click counting.
  unsigned int lastPressButton_ = 0;
  uint32_t lastPressTime_ = 0;
  double lastPressX_ = 0;
  double lastPressY_ = 0;
  int64_t clickCount_ = 0;

  // The snapshot last painted and its surface (cairo_surface_t).
  std::shared_ptr<const CapturedImage> paintedSnapshot_;
  std::shared_ptr<void> snapshotSurface_;
};

}  // namespace dravel::linux_platform
