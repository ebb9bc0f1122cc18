#include "tests/support/wayland_screens_check.h"

#include <gtk/gtk.h>

#include <algorithm>
#include <chrono>
#include <sstream>
#include <thread>
#include <tuple>
#include <vector>

#include "platform/linux/wayland/wayland_screens.h"
#include "tests/support/wayland_oracles.h"

namespace dravel::testing {
namespace {

struct Frame {
  double x, y, width, height, scale;
  bool operator==(const Frame&) const = default;
  bool operator<(const Frame& o) const { return std::tie(x, y) < std::tie(o.x, o.y); }
};

std::string text(const std::vector<Frame>& frames) {
  std::ostringstream out;
  for (const Frame& f : frames) {
    out << "(" << f.x << "," << f.y << " " << f.width << "x" << f.height << " @" << f.scale << ") ";
  }
  return out.str();
}

}  // namespace

std::string screensAgainstCompositor() {
  const std::vector<CompositorMonitor> monitors = compositorMonitors();
  const auto origin = std::find_if(monitors.begin(), monitors.end(),
                                   [](const CompositorMonitor& m) { return m.x == 0 && m.y == 0; });
  if (origin == monitors.end()) return "the compositor lists no monitor at its origin";
  std::vector<Frame> expected;
  for (const CompositorMonitor& m : monitors) {
    expected.push_back({static_cast<double>(m.x - origin->x),
                        static_cast<double>((origin->y + origin->height) - (m.y + m.height)),
                        static_cast<double>(m.width), static_cast<double>(m.height), m.scale});
  }
  std::sort(expected.begin(), expected.end());

  gdk_set_allowed_backends("wayland");
  if (!gtk_init_check(nullptr, nullptr)) return "GTK cannot start on the compositor";
  linux_platform::WaylandScreens screens(gdk_display_get_default());
  std::vector<Frame> actual;
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(5);
  while (std::chrono::steady_clock::now() < deadline) {
    while (g_main_context_iteration(nullptr, FALSE)) {
    }
    actual.clear();
    for (const ScreenPtr& s : screens.screens()) {
      const Rect f = s->frame();
      actual.push_back({f.x, f.y, f.width, f.height, s->backingScaleFactor()});
    }
    std::sort(actual.begin(), actual.end());
    if (actual == expected) return "";
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
  }
  return "the host's screens " + text(actual) + "; the compositor's " + text(expected);
}

}  // namespace dravel::testing
