// The main window on the test desktop: helpers and the fixture its tests
// share, checking with the desktop's own tools (xwininfo and xprop for what
// the server and the window manager hold, xdotool for input, the server's
// pixels for what is painted).
#pragma once

#include <gtest/gtest.h>

// After the test framework: X defines macros (None, Bool) that clash with it.
#include <X11/Xatom.h>
#include <X11/Xlib.h>
#include <gdk/gdk.h>
#include <gtk/gtk.h>
#include <stdlib.h>
#include <unistd.h>

#include <chrono>
#include <functional>
#include <memory>
#include <regex>
#include <string>
#include <thread>
#include <vector>

#include "platform/linux/desktop_layout.h"
#include "platform/linux/linux_application.h"
#include "platform/linux/linux_window.h"
#include "platform/linux/x_connection.h"
#include "tests/support/x_desktop.h"

namespace dravel {
// Readable failures.
inline void PrintTo(const Rect& r, std::ostream* out) {
  *out << "{" << r.x << ", " << r.y << ", " << r.width << ", " << r.height << "}";
}
inline void PrintTo(const Point& p, std::ostream* out) {
  *out << "{" << p.x << ", " << p.y << "}";
}
}  // namespace dravel

namespace dravel::linux_platform {

using dravel::testing::commandOutput;
using dravel::testing::makeRightMonitorPrimary;
using dravel::testing::requireTestDesktop;
using dravel::testing::runCommand;
using dravel::testing::windowNamed;

// Lets the toolkit run until `done` holds; false when it never does (a
// bounded wait for a condition, not a measure of time). Slow conditions
// (a screen dump) take fewer attempts.
inline bool waitFor(const std::function<bool()>& done, int attempts = 1000) {
  for (int i = 0; i < attempts; ++i) {
    while (g_main_context_iteration(nullptr, FALSE)) {
    }
    if (done()) return true;
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
  }
  return false;
}

inline std::string hex(int64_t xid) {
  char text[32];
  std::snprintf(text, sizeof text, "0x%lx", static_cast<unsigned long>(xid));
  return text;
}

struct Geometry {
  int64_t x = -1, y = -1, width = -1, height = -1;
  bool operator==(const Geometry&) const = default;
};

inline std::ostream& operator<<(std::ostream& out, const Geometry& g) {
  return out << g.width << "x" << g.height << "+" << g.x << "+" << g.y;
}

// The window's content as xwininfo reports it, in root pixels.
inline Geometry contentOf(int64_t xid) {
  const dravel::testing::WindowInfo info = dravel::testing::windowInfo(xid);
  return {info.number("Absolute upper-left X"), info.number("Absolute upper-left Y"),
          info.number("Width"), info.number("Height")};
}

inline std::string mapState(int64_t xid) {
  const dravel::testing::WindowInfo info = dravel::testing::windowInfo(xid);
  return info.gone() ? "gone" : info.text("Map State");
}

inline bool overrideRedirect(int64_t xid) {
  return dravel::testing::windowInfo(xid).text("Override Redirect State") == "yes";
}

// A property of the window as xprop prints it.
inline std::string propertyOf(int64_t xid, const char* name) {
  std::string out;
  runCommand({"xprop", "-id", hex(xid), name}, &out);
  return out;
}

// The window manager's frame around the window as xprop shows it (left,
// right, top, bottom); zeros when there is none.
inline std::vector<int64_t> frameExtentsOf(int64_t xid) {
  const std::string out = propertyOf(xid, "_NET_FRAME_EXTENTS");
  std::smatch match;
  if (!std::regex_search(out, match, std::regex(R"(= (\d+), (\d+), (\d+), (\d+))"))) {
    return {0, 0, 0, 0};
  }
  return {std::stoll(match[1]), std::stoll(match[2]), std::stoll(match[3]), std::stoll(match[4])};
}

// The outer frame in root pixels, from the two tools together.
inline Geometry outerOf(int64_t xid) {
  const Geometry c = contentOf(xid);
  const std::vector<int64_t> e = frameExtentsOf(xid);
  return {c.x - e[0], c.y - e[2], c.width + e[0] + e[1], c.height + e[2] + e[3]};
}

using dravel::testing::screenPixel;

inline std::string focusedWindow() {
  return commandOutput({"xdotool", "getwindowfocus"});
}
inline std::string idLine(int64_t xid) {
  return std::to_string(xid) + "\n";
}

class WindowOnDesktop : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(requireTestDesktop());
    ASSERT_TRUE(gtk_init_check(nullptr, nullptr));
    connection_ = dravel::testing::openXConnection();
    ASSERT_NE(connection_, nullptr);
  }
  void TearDown() override {
    window.reset();
    waitFor([] { return true; });
  }

  void makeWindow(LinuxWindowHooks hooks = {}) {
    window = std::make_unique<LinuxWindow>(
        [this] { return DesktopLayout(readMonitors(*connection_), 1); }, std::move(hooks));
    xid = window->windowNumber();
  }
  bool waitForMapState(const std::string& state) {
    return waitFor([&] { return mapState(xid) == state; });
  }
  Display* display() { return connection_->display(); }

  std::unique_ptr<XConnection> connection_;
  std::unique_ptr<LinuxWindow> window;
  int64_t xid = 0;
};

}  // namespace dravel::linux_platform
