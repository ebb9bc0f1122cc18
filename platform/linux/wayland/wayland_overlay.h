// How the main window covers a monitor as the overlay on a Wayland
// compositor, where no client places its own windows or stacks them above
// panels.
//
// Where the compositor offers the layer shell (wlroots compositors, KWin) the
// overlay is a surface of its own on the overlay layer, above every window
// and panel, anchored to all four edges of its monitor and taking the
// keyboard exclusively while it is shown. A layer surface cannot become a
// toplevel again, so this second window lives beside the main window for the
// window's life and shows whenever the window is in overlay mode. Elsewhere
// (mutter) the main window itself goes fullscreen on the monitor, which puts
// it above the compositor's panels while it has the focus, and leaves
// fullscreen when the overlay goes. Asking the layer shell of a compositor
// that lacks it aborts the process: the capability is read first.
#pragma once

#include <functional>

typedef struct _GtkWidget GtkWidget;

namespace dravel::linux_platform {

class WaylandOverlay {
 public:
  // `window`: the main window (a toplevel of GDK's Wayland backend).
  // `connect` hooks the window's own handlers (drawing, pointer, map and
  // unmap) to the layer surface once it exists. `closed` runs when the
  // compositor takes the layer surface away (its monitor went); the surface
  // itself stays, hidden by the next hide. `layerShell`: whether the
  // compositor offers the layer shell.
  WaylandOverlay(GtkWidget* window, bool layerShell, std::function<void(GtkWidget*)> connect,
                 std::function<void()> closed);
  ~WaylandOverlay();
  WaylandOverlay(const WaylandOverlay&) = delete;
  WaylandOverlay& operator=(const WaylandOverlay&) = delete;

  bool usesLayerShell() const { return layerShell_; }
  // Shows the overlay on the toolkit's monitor `monitor` (its index; out of
  // range: the compositor's choice) and answers the widget that shows it.
  GtkWidget* show(int monitor);
  // Takes the overlay down; the main window is left hidden and no longer
  // fullscreen.
  void hide();
  // The widget showing the overlay now, else null.
  GtkWidget* surface() const { return shown_; }
  // The layer surface, once made; null on the fullscreen path.
  GtkWidget* layerSurface() const { return layer_; }

 private:
  GtkWidget* window_;
  bool layerShell_;
  std::function<void(GtkWidget*)> connect_;
  std::function<void()> closed_;
  GtkWidget* layer_ = nullptr;
  GtkWidget* shown_ = nullptr;
};

}  // namespace dravel::linux_platform
