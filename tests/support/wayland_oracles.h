// Oracles for tests on the private Wayland desktops (scripts/wayland-desktop):
// the compositors' own tools and interfaces, never the host's idea of them.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "platform/seam/captured_image.h"
#include "tests/support/xwd_image.h"

namespace dravel::testing {

// The family the test desktop runs ("sway", "kwin", "gnome"), empty off it.
std::string waylandTestDesktop();

// One output as `swaymsg -t get_outputs` lists it.
struct SwayOutput {
  std::string name;
  // Logical rect.
  int64_t x = 0;
  int64_t y = 0;
  int64_t width = 0;
  int64_t height = 0;
  double scale = 1;
  // The current mode, in device pixels.
  int64_t modeWidth = 0;
  int64_t modeHeight = 0;
};
std::vector<SwayOutput> swayOutputs();

// An output's pixels as `grim -o NAME -t ppm` reads them; empty (width 0)
// when grim fails or its PPM is malformed. `cursor`: with the pointer's image
// drawn in (grim -c).
RgbImage grimOutput(const std::string& name, bool cursor = false);

// An output's pixels as KWin's own ScreenShot2 gives them
// (tests/tools/kwin_frame.py), at the output's device size; empty (width 0)
// while KWin refuses the oracle (it may take a moment to read the entry
// that grants it) or on failure.
RgbImage kwinOutputFrame(const std::string& name);

// A monitor's pixels as mutter's own screen cast gives them
// (tests/tools/mutter_frame.py): straight RGBA; empty (width 0) on failure.
CapturedImage mutterMonitorFrame(const std::string& connector);

// mutter's org.gnome.Mutter.DisplayConfig.GetCurrentState as gdbus prints it.
std::string gnomeDisplayState();

// GNOME's monitors' connectors and current modes ("Meta-0 1920x1080") from
// org.gnome.Mutter.DisplayConfig.GetCurrentState.
std::vector<std::string> gnomeMonitors();

// Whether `shot` is one of `monitors` (the compositor's own pictures), give
// or take the moving parts of a program (spinners, a caret: under 1% of the
// pixels), with a window on it: no one colour (a bare desktop's
// background) covers nine tenths of it. Says why not into `why`.
bool showsAMonitorWithAWindow(const RgbImage& shot, const std::vector<RgbImage>& monitors,
                              std::string* why);

// Each monitor's picture by the test desktop's compositor itself: grim on
// sway, KWin's ScreenShot2, mutter's screen cast; a picture it could not
// take is empty (width 0).
std::vector<RgbImage> compositorPictures();

// Runs the demo (runDemo) until its screenshot is one of the compositor's
// own pictures with a window on it (showsAMonitorWithAWindow), for at most
// `seconds`: a program's window shows a moment after it starts. What the
// demo said last, and why its picture was not one, go to `said` and `why`.
bool demoShowsACompositorPicture(const std::string& png, double seconds, std::string* said,
                                 std::string* why);

// A monitor as the compositor itself lists it: logical rectangle (y
// downward, the compositor's origin) and scale.
struct CompositorMonitor {
  std::string name;
  int64_t x = 0;
  int64_t y = 0;
  int64_t width = 0;
  int64_t height = 0;
  double scale = 1;
  bool operator==(const CompositorMonitor&) const = default;
};
// The test desktop's monitors by its compositor's own interface: swaymsg,
// KWin's supportInformation, or mutter's DisplayConfig (whose logical
// monitors are laid out in device pixels on GNOME 43); empty on failure.
std::vector<CompositorMonitor> compositorMonitors();

}  // namespace dravel::testing
