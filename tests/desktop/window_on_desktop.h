// The main window on the test desktop: helpers and the fixture its tests
// share, checking with the desktop's own tools (xwininfo and xprop for what
// the server and the window manager hold, xdotool for input, the server's
// pixels for what is painted).
#pragma once

#include <gtest/gtest.h>

// After the test framework: X defines macros (None, Bool) that clash with it.
#include <X11/Xlib.h>
#include <gdk/gdk.h>
#include <gtk/gtk.h>
#include <stdlib.h>

#include <functional>
#include <memory>
#include <string>

#include "platform/linux/session/linux_application.h"
#include "platform/linux/session/linux_window.h"
#include "platform/linux/session/screen_layout.h"
#include "platform/linux/x11/x11_connection.h"
#include "platform/linux/x11/x11_screens.h"
#include "platform/linux/x11/x11_window_system.h"
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

using namespace dravel::testing;

// Lets the toolkit run until `done` holds; false when it never does.
inline bool waitFor(const std::function<bool()>& done) {
  return serveMainContextUntil(done);
}

inline std::string mapState(int64_t xid) {
  const WindowInfo info = windowInfo(xid);
  return info.gone() ? "gone" : info.text("Map State");
}

inline bool overrideRedirect(int64_t xid) {
  return windowInfo(xid).text("Override Redirect State") == "yes";
}

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
    connection_ = openXConnection();
    ASSERT_NE(connection_, nullptr);
  }
  void TearDown() override {
    window.reset();
    waitFor([] { return true; });
  }

  void makeWindow(LinuxWindowHooks hooks = {}) {
    window = std::make_unique<LinuxWindow>(
        [this] { return DesktopLayout(readMonitors(*connection_), 1); }, std::move(hooks),
        std::make_unique<X11WindowSystem>());
    xid = window->windowNumber();
  }
  bool waitForMapState(const std::string& state) {
    return waitFor([&] { return mapState(xid) == state; });
  }
  Display* display() { return connection_->display(); }
  // Overrides whose order-out is counted in orderOuts, then done.
  NativeWindowOverrides countingOrderOuts() {
    NativeWindowOverrides overrides;
    overrides.orderOut = [this] {
      ++orderOuts;
      window->orderOut();
    };
    return overrides;
  }

  std::unique_ptr<XConnection> connection_;
  std::unique_ptr<LinuxWindow> window;
  int64_t xid = 0;
  int orderOuts = 0;
};

}  // namespace dravel::linux_platform
