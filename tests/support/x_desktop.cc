#include "tests/support/x_desktop.h"

#include <glib.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cstdio>
#include <cstdlib>
#include <regex>
#include <sstream>

// Before Xlib, whose macros (None, Success, ...) would break it.
#include "tests/support/host_process.h"

#include <X11/Xlib.h>
#include <X11/Xutil.h>
#include <X11/extensions/Xfixes.h>

#include "platform/linux/x11/x11_connection.h"

namespace dravel::testing {

::testing::AssertionResult requireTestDesktop() {
  const char* display = std::getenv("DISPLAY");
  if (!display || !*display) {
    return ::testing::AssertionFailure()
           << "no DISPLAY: run this test on the test desktop (scripts/test-desktop run -- ...)";
  }
  Display* connection = XOpenDisplay(display);
  if (!connection) {
    return ::testing::AssertionFailure() << "the X server " << display << " does not answer";
  }
  XCloseDisplay(connection);
  return ::testing::AssertionSuccess();
}

std::unique_ptr<linux_platform::XConnection> openXConnection() {
  std::string why;
  auto connection = linux_platform::XConnection::open(nullptr, &why);
  EXPECT_NE(connection, nullptr) << why;
  return connection;
}

namespace {

// Runs the program with its output in files of its own, serving the default
// GLib main context meanwhile when `serving`; stopped after `seconds`.
bool runProgram(const std::vector<std::string>& argv, std::string* out, std::string* err,
                double seconds, bool serving) {
  static std::atomic<int> runs{0};
  const std::string base =
      ::testing::TempDir() + "run-" + std::to_string(::getpid()) + "-" + std::to_string(++runs);
  const pid_t pid = spawn(argv, base + ".out", base + ".err");
  int status = -1;
  auto exited = [&] { return ::waitpid(pid, &status, WNOHANG) == pid; };
  if (!(serving ? serveMainContextUntil(exited, seconds) : waitUntil(exited, seconds))) {
    stopProcess(pid);
  }
  if (out) *out = readFile(base + ".out");
  if (err) *err = readFile(base + ".err");
  std::remove((base + ".out").c_str());
  std::remove((base + ".err").c_str());
  return WIFEXITED(status) && WEXITSTATUS(status) == 0;
}

}  // namespace

bool runCommand(const std::vector<std::string>& argv, std::string* out, std::string* err) {
  return runProgram(argv, out, err, 60, false);
}

bool runWhileServing(const std::vector<std::string>& argv, std::string* out, std::string* err,
                     double seconds) {
  return runProgram(argv, out, err, seconds, true);
}

std::string commandOutput(const std::vector<std::string>& argv) {
  std::string out;
  std::string err;
  if (!runCommand(argv, &out, &err)) {
    std::string line;
    for (const std::string& a : argv) line += a + " ";
    ADD_FAILURE() << "command failed: " << line << "\n" << err;
  }
  return out;
}

std::string gdbusCall(const std::string& dest, const std::string& path, const std::string& method,
                      const std::vector<std::string>& arguments) {
  std::vector<std::string> argv{"gdbus",         "call", "--session", "--dest", dest,
                                "--object-path", path,   "--method",  method};
  argv.insert(argv.end(), arguments.begin(), arguments.end());
  std::string out;
  return runCommand(argv, &out) ? out : "";
}

bool busNameOwned(const std::string& name) {
  return gdbusCall("org.freedesktop.DBus", "/org/freedesktop/DBus",
                   "org.freedesktop.DBus.NameHasOwner", {name})
             .find("true") != std::string::npos;
}

std::vector<ListedMonitor> listedMonitors() {
  // " 0: *LEFT 1440/381x1800/476+0+0  screen"
  const std::regex line(R"(^\s*\d+: ([+*]*)(\S+) (\d+)/\d+x(\d+)/\d+\+(-?\d+)\+(-?\d+))");
  std::vector<ListedMonitor> monitors;
  std::istringstream text(commandOutput({"xrandr", "--listmonitors"}));
  for (std::string row; std::getline(text, row);) {
    std::smatch m;
    if (!std::regex_search(row, m, line)) continue;
    monitors.push_back({m[2], m[1].str().find('*') != std::string::npos, std::stoll(m[5]),
                        std::stoll(m[6]), std::stoll(m[3]), std::stoll(m[4])});
  }
  return monitors;
}

ListedMonitor listedMonitorAt(int64_t x, int64_t y) {
  for (const ListedMonitor& m : listedMonitors()) {
    if (x >= m.x && x < m.x + m.width && y >= m.y && y < m.y + m.height) return m;
  }
  ADD_FAILURE() << "no monitor at " << x << "," << y;
  return {};
}

ListedMonitor listedPrimaryMonitor() {
  const std::vector<ListedMonitor> monitors = listedMonitors();
  const auto primary = std::find_if(monitors.begin(), monitors.end(),
                                    [](const ListedMonitor& m) { return m.primary; });
  if (primary != monitors.end()) return *primary;
  return monitors.empty() ? ListedMonitor{} : monitors.front();
}

bool makeRightMonitorPrimary() {
  return runCommand({"xrandr", "--delmonitor", "RIGHT"}) &&
         runCommand({"xrandr", "--setmonitor", "*RIGHT", "1440/381x1800/476+1440+0", "none"});
}

unsigned long windowNamed(const std::string& name) {
  std::string out;
  if (!runCommand({"xdotool", "search", "--name", "^" + name + "$"}, &out)) return 0;
  return std::strtoul(out.c_str(), nullptr, 10);
}

size_t windowsShown(const std::string& name) {
  std::string out;
  runCommand({"xdotool", "search", "--onlyvisible", "--name", "^" + name + "$"}, &out);
  return static_cast<size_t>(std::count(out.begin(), out.end(), '\n'));
}

WindowInfo windowInfo(unsigned long window, bool tree) {
  std::vector<std::string> argv{"xwininfo", "-id", std::to_string(window)};
  if (tree) argv.push_back("-tree");
  WindowInfo info;
  std::string out;
  if (!runCommand(argv, &out)) return info;
  // "  Absolute upper-left X:  100", "  Map State: IsViewable", ...
  std::istringstream lines(out);
  for (std::string line; std::getline(lines, line);) {
    const size_t colon = line.find(": ");
    const size_t start = line.find_first_not_of(' ');
    if (colon == std::string::npos || start >= colon) continue;
    const size_t value = line.find_first_not_of(' ', colon + 1);
    info.fields.emplace(line.substr(start, colon - start),
                        value == std::string::npos ? "" : line.substr(value));
  }
  return info;
}

int64_t WindowInfo::number(const std::string& label) const {
  return fields.count(label) ? std::strtoll(text(label).c_str(), nullptr, 0) : -1;
}

std::string WindowInfo::text(const std::string& label) const {
  const auto field = fields.find(label);
  return field == fields.end() ? "" : field->second;
}

std::ostream& operator<<(std::ostream& out, const RootRect& r) {
  return out << r.width << "x" << r.height << "+" << r.x << "+" << r.y;
}

std::string hexId(unsigned long window) {
  std::ostringstream text;
  text << "0x" << std::hex << window;
  return text.str();
}

std::string propertyOf(unsigned long window, const std::string& name) {
  std::string out;
  runCommand({"xprop", "-id", hexId(window), name}, &out);
  return out;
}

RootRect contentOf(unsigned long window) {
  const WindowInfo info = windowInfo(window);
  return {info.number("Absolute upper-left X"), info.number("Absolute upper-left Y"),
          info.number("Width"), info.number("Height")};
}

std::vector<int64_t> frameExtentsOf(unsigned long window) {
  // "_NET_FRAME_EXTENTS(CARDINAL) = 1, 1, 20, 5"
  std::smatch m;
  const std::string out = propertyOf(window, "_NET_FRAME_EXTENTS");
  if (!std::regex_search(out, m, std::regex(R"(= (\d+), (\d+), (\d+), (\d+))")))
    return {0, 0, 0, 0};
  return {std::stoll(m[1]), std::stoll(m[2]), std::stoll(m[3]), std::stoll(m[4])};
}

RootRect frameOf(unsigned long window) {
  const RootRect c = contentOf(window);
  const std::vector<int64_t> e = frameExtentsOf(window);
  return {c.x - e[0], c.y - e[2], c.width + e[0] + e[1], c.height + e[2] + e[3]};
}

RootRect topLevelOf(unsigned long window) {
  for (int depth = 0; depth < 8; ++depth) {
    const WindowInfo tree = windowInfo(window, true);
    if (tree.text("Parent window id").find("(the root window)") != std::string::npos) break;
    window = static_cast<unsigned long>(tree.number("Parent window id"));
  }
  const WindowInfo info = windowInfo(window);
  const int64_t border = info.number("Border width");
  return {info.number("Absolute upper-left X"), info.number("Absolute upper-left Y"),
          info.number("Width") + 2 * border, info.number("Height") + 2 * border};
}

ServerCursor serverCursor() {
  ServerCursor c;
  Display* display = XOpenDisplay(nullptr);
  if (!display) return c;
  if (XFixesCursorImage* image = XFixesGetCursorImage(display)) {
    c.width = image->width;
    c.height = image->height;
    c.xhot = image->xhot;
    c.yhot = image->yhot;
    // The pixels are unsigned long, one a pixel, whatever that type's width.
    if (image->width > 0 && image->height > 0) {
      c.centre = static_cast<uint32_t>(
          image->pixels[(image->height / 2) * image->width + image->width / 2] & 0xFFFFFFFFu);
    }
    c.serial = image->cursor_serial;
    XFree(image);
  }
  XCloseDisplay(display);
  return c;
}

bool anotherClientCanGrabPointerAndKeyboard() {
  Display* other = XOpenDisplay(nullptr);
  if (!other) return false;
  const Window root = DefaultRootWindow(other);
  const bool pointer = XGrabPointer(other, root, False, ButtonPressMask, GrabModeAsync,
                                    GrabModeAsync, 0, 0, CurrentTime) == GrabSuccess;
  const bool keyboard =
      XGrabKeyboard(other, root, False, GrabModeAsync, GrabModeAsync, CurrentTime) == GrabSuccess;
  XUngrabPointer(other, CurrentTime);
  XUngrabKeyboard(other, CurrentTime);
  XCloseDisplay(other);
  return pointer && keyboard;
}

bool serveMainContextUntil(const std::function<bool()>& done, double seconds) {
  return waitUntil(
      [&] {
        while (g_main_context_iteration(nullptr, FALSE)) {
        }
        return done();
      },
      seconds);
}

std::string screenPixel(int x, int y) {
  Display* display = XOpenDisplay(nullptr);
  if (!display) return "";
  std::string text;
  XWindowAttributes root;
  if (XGetWindowAttributes(display, DefaultRootWindow(display), &root) && root.visual &&
      root.visual->red_mask == 0xff0000 && root.visual->green_mask == 0xff00 &&
      root.visual->blue_mask == 0xff) {
    if (XImage* image =
            XGetImage(display, DefaultRootWindow(display), x, y, 1, 1, AllPlanes, ZPixmap)) {
      const unsigned long pixel = XGetPixel(image, 0, 0);
      text = "srgb(" + std::to_string((pixel >> 16) & 0xff) + "," +
             std::to_string((pixel >> 8) & 0xff) + "," + std::to_string(pixel & 0xff) + ")";
      XDestroyImage(image);
    }
  }
  XCloseDisplay(display);
  return text;
}

}  // namespace dravel::testing
