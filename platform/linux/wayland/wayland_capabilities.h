// What sets one Wayland compositor apart from another, as far as the host
// cares, in one table: read once at start from what the session advertises
// (the compositor's registry globals, the names owned on the session bus,
// the environment a compositor's IPC is found by), never from the desktop's
// name. The capture routes ask for their own interfaces as they are made
// (see wayland_screen_capture.h); this table holds the rest and names the
// routes' interfaces too, for the log.
//
//   layer shell    the overlay above panels with the keyboard (zwlr_layer_shell_v1,
//                  as gtk-layer-shell asks it); else fullscreen on the monitor
//   data control   the clipboard set without keyboard focus
//                  (zwlr_data_control_manager_v1, ext_data_control_manager_v1)
//   screencopy     pixels without a prompt (zwlr_screencopy_manager_v1)
//   window source  the frontmost window: sway's IPC ($SWAYSOCK), KWin's
//                  scripting (org.kde.KWin on the bus), or none
#pragma once

#include <string>
#include <vector>

typedef struct _GdkDisplay GdkDisplay;

namespace dravel::linux_platform {

struct WaylandCapabilities {
  bool layerShell = false;
  bool dataControl = false;
  bool screencopy = false;
  enum class WindowSource { kNone, kSwayIpc, kKWinScripting };
  WindowSource windowSource = WindowSource::kNone;

  // From the interfaces the registry lists and what the bus and environment
  // say; `layerShell` as given (the toolkit's own answer).
  static WaylandCapabilities fromGlobals(const std::vector<std::string>& interfaces,
                                         bool layerShell, bool swayIpc, bool kwinOnBus);
  // One line for the log: "layer shell yes, data control no, ...".
  std::string describe() const;
};

// Main thread, after the toolkit has connected to the compositor: the
// globals of GDK's own connection (listed on a private event queue), the
// toolkit's answer for the layer shell, $SWAYSOCK and the session bus.
WaylandCapabilities readWaylandCapabilities(GdkDisplay* display);

// Whether `name` has an owner on the session bus now (never starting its
// service); false without a bus or an answer within half a second.
bool nameOwnedOnSessionBus(const char* name);

}  // namespace dravel::linux_platform
