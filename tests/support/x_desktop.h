// Helpers for tests that run on the private test desktop (scripts/test-desktop),
// whose own tools serve as oracles.
#pragma once

#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <ostream>
#include <string>
#include <vector>

#include <gtest/gtest.h>

namespace dravel::linux_platform {
class XConnection;
}

namespace dravel::testing {

// Runs the default GLib main context (the host's main queue, GTK, D-Bus
// replies) until `done` holds; false when `seconds` pass first.
bool serveMainContextUntil(const std::function<bool()>& done, double seconds = 20);

// Whether this process runs on the test desktop (DISPLAY set and the X server
// answering); adds a failure saying how to run the test when not.
::testing::AssertionResult requireTestDesktop();

// A connection of the platform's own to the test desktop; null after a
// failure saying why.
std::unique_ptr<linux_platform::XConnection> openXConnection();

// Runs a program (found on PATH) and returns what it wrote to stdout;
// records a test failure when it cannot run or exits with a non-zero status.
std::string commandOutput(const std::vector<std::string>& argv);
// The same, returning whether it succeeded instead of failing the test; one
// still running after a minute is stopped.
bool runCommand(const std::vector<std::string>& argv, std::string* out = nullptr,
                std::string* err = nullptr);
// The same while serving the default GLib main context, for programs that
// talk to this process; one still running after `seconds` is stopped.
bool runWhileServing(const std::vector<std::string>& argv, std::string* out = nullptr,
                     std::string* err = nullptr, double seconds = 20);

// What `gdbus call --session` prints for `method` of the object at `path` of
// `dest`, called with `arguments`; empty when the call fails.
std::string gdbusCall(const std::string& dest, const std::string& path, const std::string& method,
                      const std::vector<std::string>& arguments = {});
// Whether some connection owns `name` on the session bus.
bool busNameOwned(const std::string& name);

// One monitor as `xrandr --listmonitors` lists it, in root pixels.
struct ListedMonitor {
  std::string name;
  bool primary = false;
  int64_t x = 0;
  int64_t y = 0;
  int64_t width = 0;
  int64_t height = 0;
};

// The monitors `xrandr --listmonitors` lists, in its order.
std::vector<ListedMonitor> listedMonitors();
// The listed monitor holding root pixel (x, y); a failure (and an empty
// monitor) when none does.
ListedMonitor listedMonitorAt(int64_t x, int64_t y);
// The listed primary monitor (the first when none is marked).
ListedMonitor listedPrimaryMonitor();
// Makes the test desktop's RIGHT monitor (the one without an output) the
// primary, away from the root's origin; false when xrandr refuses.
bool makeRightMonitorPrimary();

// The cursor the server shows now, as XFixes reads it back.
struct ServerCursor {
  int width = 0;
  int height = 0;
  int xhot = 0;
  int yhot = 0;
  // ARGB (premultiplied) of the centre pixel.
  uint32_t centre = 0;
  // Changes whenever the cursor does.
  unsigned long serial = 0;
};
ServerCursor serverCursor();

// The id of the one window whose name is exactly `name` (xdotool search);
// 0 when there is none.
unsigned long windowNamed(const std::string& name);
// How many visible windows have exactly this name.
size_t windowsShown(const std::string& name);

// What `xwininfo -id` prints of a window (with `-tree`, only the tree: "Parent window id"),
// label by label ("Absolute upper-left X", "Width", "Map State",
// "Override Redirect State", ...); no labels when the window is gone.
struct WindowInfo {
  std::map<std::string, std::string> fields;
  // The field as a number (its leading one, as for a parent's id); -1 when absent.
  int64_t number(const std::string& label) const;
  std::string text(const std::string& label) const;
  bool gone() const { return fields.empty(); }
};
WindowInfo windowInfo(unsigned long window, bool tree = false);

// A rectangle of root pixels (-1s when unknown), printed as WxH+X+Y.
struct RootRect {
  int64_t x = -1, y = -1, width = -1, height = -1;
  bool operator==(const RootRect&) const = default;
};
std::ostream& operator<<(std::ostream& out, const RootRect& r);
// The window's id as xprop and xwininfo print it ("0x1a00003").
std::string hexId(unsigned long window);
// A property of the window as xprop prints it; empty when it cannot be read.
std::string propertyOf(unsigned long window, const std::string& name);
// The window's content as xwininfo gives it.
RootRect contentOf(unsigned long window);
// The window manager's _NET_FRAME_EXTENTS of the window as xprop gives them
// (left, right, top, bottom); zeros when it sets none.
std::vector<int64_t> frameExtentsOf(unsigned long window);
// The content grown by those extents: the frame around a managed client.
RootRect frameOf(unsigned long window);
// The top-level window that holds `window` (the window manager's frame, or
// the window itself), from the outer corner of its border.
RootRect topLevelOf(unsigned long window);

// The colour the screen shows at root (x, y), as "srgb(R,G,B)", read by a
// connection of its own; empty when it cannot be read.
std::string screenPixel(int x, int y);

// Whether a separate client can grab the pointer and the keyboard now (no
// other client holds a grab); it lets go at once.
bool anotherClientCanGrabPointerAndKeyboard();

}  // namespace dravel::testing
