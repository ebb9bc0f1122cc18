// The window list on the test desktop, checked against what xwininfo, xprop
// and pgrep say about the clients.
// Google Test before X, whose macros (None) would break it.
#include <gtest/gtest.h>

#include "tests/support/host_process.h"

#include <X11/Xatom.h>
#include <X11/Xlib.h>

#include <algorithm>
#include <cstdlib>
#include <map>
#include <memory>
#include <sstream>
#include <string>
#include <tuple>
#include <vector>

#include "platform/linux/x11/x11_screens.h"
#include "platform/linux/x11/x11_window_list.h"
#include "platform/linux/x11/x11_connection.h"
#include "tests/support/x_desktop.h"

namespace dravel::linux_platform {
namespace {

using namespace ::dravel::testing;

// The top-level window holding `window` as xwininfo gives it.
Rect outerRect(unsigned long window) {
  const RootRect r = topLevelOf(window);
  return Rect{static_cast<double>(r.x), static_cast<double>(r.y), static_cast<double>(r.width),
              static_cast<double>(r.height)};
}

int64_t hintedPid(unsigned long window) {
  const std::string hint = propertyOf(window, "_NET_WM_PID");
  const size_t at = hint.find("= ");
  return at == std::string::npos ? -1 : std::stoll(hint.substr(at + 2));
}

// Those of `windows` that xwininfo lists under the root (all its descendants,
// or only its children), in its order: top first.
std::vector<unsigned long> listedUnderRoot(const std::vector<unsigned long>& windows,
                                           bool childrenOnly = false) {
  const std::string tree =
      commandOutput({"xwininfo", "-root", childrenOnly ? "-children" : "-tree"});
  std::vector<std::pair<size_t, unsigned long>> found;
  for (unsigned long window : windows) {
    const size_t at = tree.find(hexId(window) + " ");
    if (at != std::string::npos) found.emplace_back(at, window);
  }
  std::sort(found.begin(), found.end());
  std::vector<unsigned long> order;
  for (const auto& [at, window] : found) order.push_back(window);
  return order;
}

// Those of `windows` in the order the window manager last published
// (_NET_CLIENT_LIST_STACKING as xprop prints it, bottom first), top first.
std::vector<unsigned long> publishedStacking(const std::vector<unsigned long>& windows) {
  std::string list = commandOutput({"xprop", "-root", "_NET_CLIENT_LIST_STACKING"});
  std::replace(list.begin(), list.end(), '\n', ',');
  std::vector<std::pair<size_t, unsigned long>> found;
  for (unsigned long window : windows) {
    const size_t at = list.find(hexId(window) + ",");
    if (at != std::string::npos) found.emplace_back(at, window);
  }
  std::sort(found.rbegin(), found.rend());
  std::vector<unsigned long> order;
  for (const auto& [at, window] : found) order.push_back(window);
  return order;
}

// The order of `windows` once the window manager has restacked them with
// `front` on top and published it: the server's stacking (xwininfo) and the
// window manager's list change in separate requests, so either may lag.
std::vector<unsigned long> settledOrder(const std::vector<unsigned long>& windows,
                                        unsigned long front) {
  std::vector<unsigned long> order;
  EXPECT_TRUE(serveMainContextUntil([&] {
    order = listedUnderRoot(windows);
    return order.size() == windows.size() && order.front() == front &&
           publishedStacking(windows) == order;
  })) << "stacking never settled with "
      << hexId(front) << " on top";
  return order;
}

// The pid of the xeyes of this desktop (other desktops may run one too): the
// one pgrep finds whose environment names this display.
int64_t xeyesPid() {
  const std::string display = std::string(1, '\0') + "DISPLAY=" + std::getenv("DISPLAY") + '\0';
  std::istringstream pids(commandOutput({"pgrep", "-x", "xeyes"}));
  for (int64_t pid = 0; pids >> pid;) {
    const std::string environment = readFile("/proc/" + std::to_string(pid) + "/environ");
    if (('\0' + environment).find(display) != std::string::npos) return pid;
  }
  ADD_FAILURE() << "no xeyes on " << display.substr(1);
  return 0;
}

struct Listing {
  std::vector<ValueMap> entries;
  std::map<unsigned long, ValueMap> byWindow;
  // Window numbers, front to back, of the given windows only.
  std::vector<unsigned long> orderOf(const std::vector<unsigned long>& windows) const {
    std::vector<unsigned long> order;
    for (const ValueMap& entry : entries) {
      const auto number = static_cast<unsigned long>(*entry.find(kCGWindowNumber)->asInt());
      if (std::find(windows.begin(), windows.end(), number) != windows.end()) {
        order.push_back(number);
      }
    }
    return order;
  }
  bool has(unsigned long window) const { return byWindow.count(window) > 0; }
};

Listing list(X11WindowList& windowList, uint32_t option, uint32_t relativeTo = 0) {
  Listing listing;
  std::optional<Value> info = windowList.copyWindowInfo(option, relativeTo);
  EXPECT_TRUE(info);
  if (!info || !info->asList()) return listing;
  for (const Value& entry : *info->asList()) {
    const ValueMap* map = entry.asMap();
    EXPECT_NE(map, nullptr);
    if (!map) continue;
    listing.entries.push_back(*map);
    listing.byWindow[static_cast<unsigned long>(*map->find(kCGWindowNumber)->asInt())] = *map;
  }
  return listing;
}

Rect boundsOf(const ValueMap& entry) {
  const Value* bounds = entry.find(kCGWindowBounds);
  if (!bounds) return {};
  return Rect{*bounds->doubleAt("X"), *bounds->doubleAt("Y"), *bounds->doubleAt("Width"),
              *bounds->doubleAt("Height")};
}

std::string stringOf(const ValueMap& entry, const char* key) {
  const Value* value = entry.find(key);
  return value && value->asString() ? *value->asString() : "(absent)";
}

int64_t intOf(const ValueMap& entry, const char* key) {
  const Value* value = entry.find(key);
  return value && value->asInt() ? *value->asInt() : -1;
}

class WindowListTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(requireTestDesktop());
    connection = openXConnection();
    ASSERT_TRUE(connection);
    screens = std::make_unique<X11Screens>(*connection, [] { return 1; });
    windowList = std::make_unique<X11WindowList>(*connection, *screens);
    termOne = windowNamed("term one");
    termTwo = windowNamed("term two");
    eyes = windowNamed("xeyes");
    ASSERT_TRUE(termOne && termTwo && eyes);
  }

  std::unique_ptr<XConnection> connection;
  std::unique_ptr<X11Screens> screens;
  std::unique_ptr<X11WindowList> windowList;
  unsigned long termOne = 0;
  unsigned long termTwo = 0;
  unsigned long eyes = 0;
};

TEST_F(WindowListTest, EntriesAgreeWithXwininfoXpropAndTheProcessTableAndHintsSetLater) {
  Listing listing =
      list(*windowList, kWindowListOptionOnScreenOnly | kWindowListExcludeDesktopElements);
  ASSERT_TRUE(listing.has(termOne) && listing.has(termTwo) && listing.has(eyes));
  EXPECT_EQ(listing.entries.size(), 3u);
  EXPECT_EQ(activeWindowPid(*connection), hintedPid(termTwo));

  // Bounds of framed windows are checked end to end against xwininfo and
  // xprop by host_x11_test, their arithmetic by x11_window_list_test.
  // Owner pid and name, title, layer, and whether an alpha is given.
  auto described = [&](unsigned long window) {
    const ValueMap& e = listing.byWindow.at(window);
    return std::make_tuple(intOf(e, kCGWindowOwnerPID), stringOf(e, kCGWindowOwnerName),
                           stringOf(e, kCGWindowName), intOf(e, kCGWindowLayer),
                           e.contains(kCGWindowAlpha));
  };
  using Described = std::tuple<int64_t, std::string, std::string, int64_t, bool>;
  EXPECT_EQ(described(termOne), (Described{hintedPid(termOne), "XTerm", "term one", 0, false}));
  EXPECT_EQ(described(termTwo), (Described{hintedPid(termTwo), "XTerm", "term two", 0, false}));
  EXPECT_NE(hintedPid(termTwo), hintedPid(termOne));
  // xeyes sets no pid hint: the server knows its pid.
  EXPECT_EQ(hintedPid(eyes), -1);
  EXPECT_EQ(described(eyes), (Described{xeyesPid(), "XEyes", "xeyes", 0, false}));

  // Hints set after the windows appeared are read.
  commandOutput({"xprop", "-id", hexId(termOne), "-f", "_NET_WM_WINDOW_OPACITY", "32c", "-set",
                 "_NET_WM_WINDOW_OPACITY", "0x7fffffff"});
  commandOutput(
      {"xdotool", "set_window", "--name", "caf\xC3\xA9 \xE2\x98\x95", std::to_string(termTwo)});
  commandOutput({"xprop", "-id", hexId(eyes), "-f", "_NET_WM_WINDOW_TYPE", "32a", "-set",
                 "_NET_WM_WINDOW_TYPE", "_NET_WM_WINDOW_TYPE_DOCK"});
  // Shadow the client draws itself, as a client-side decorated window says.
  commandOutput({"xprop", "-id", hexId(termTwo), "-f", "_GTK_FRAME_EXTENTS", "32c", "-set",
                 "_GTK_FRAME_EXTENTS", "10,20,30,40"});
  listing = list(*windowList, 0);
  EXPECT_NEAR(listing.byWindow.at(termOne).find(kCGWindowAlpha)->asDouble().value_or(-1), 0.5,
              1e-6);
  EXPECT_EQ(stringOf(listing.byWindow.at(termTwo), kCGWindowName), "caf\xC3\xA9 \xE2\x98\x95");
  EXPECT_EQ(intOf(listing.byWindow.at(eyes), kCGWindowLayer), kDockLayer);
  const Rect frame = outerRect(termTwo);
  EXPECT_EQ(boundsOf(listing.byWindow.at(termTwo)),
            (Rect{frame.x + 10, frame.y + 30, frame.width - 30, frame.height - 70}));
}

TEST_F(WindowListTest, AWindowGoneIsLeftOutAndBoundsFollowThePrimary) {
  // A stacking list naming a window that no longer exists, between two
  // that do, as when a window goes while the list is read.
  Display* display = connection->display();
  const Window gone = XCreateSimpleWindow(display, connection->root(), 0, 0, 10, 10, 0, 0, 0);
  XDestroyWindow(display, gone);
  const unsigned long stacking[] = {termOne, gone, termTwo};
  XChangeProperty(display, connection->root(), connection->atom("_NET_CLIENT_LIST_STACKING"),
                  XA_WINDOW, 32, PropModeReplace, reinterpret_cast<const unsigned char*>(stacking),
                  3);
  XSync(display, False);
  const uint64_t untrapped = untrappedXErrorCount();
  const Listing listing = list(*windowList, 0);
  EXPECT_EQ(listing.orderOf({termOne, termTwo, gone}),
            (std::vector<unsigned long>{termTwo, termOne}));
  EXPECT_EQ(listing.entries.size(), 2u);
  EXPECT_EQ(untrappedXErrorCount(), untrapped);

  // RIGHT, at +1440+0, becomes the primary: everything is measured from it.
  ASSERT_TRUE(makeRightMonitorPrimary());
  screens->refresh();
  const Rect one = outerRect(termOne);
  EXPECT_EQ(boundsOf(list(*windowList, 0).byWindow.at(termOne)),
            (Rect{one.x - 1440, one.y, one.width, one.height}));
}

TEST_F(WindowListTest, FrontToBackAsTheWindowsAreRaised) {
  const std::vector<unsigned long> all{termOne, termTwo, eyes};
  // The desktop activates term two last; the window manager raises each
  // window in its own time, after the request has gone.
  std::vector<unsigned long> order = settledOrder(all, termTwo);
  EXPECT_EQ(list(*windowList, kWindowListOptionOnScreenOnly).orderOf(all), order);

  commandOutput({"xdotool", "windowactivate", "--sync", std::to_string(termOne)});
  order = settledOrder(all, termOne);
  EXPECT_EQ(activeWindowPid(*connection), hintedPid(termOne));
  EXPECT_EQ(list(*windowList, kWindowListOptionOnScreenOnly).orderOf(all), order);

  commandOutput({"xdotool", "windowraise", std::to_string(eyes)});
  order = settledOrder(all, eyes);
  EXPECT_EQ(order, (std::vector<unsigned long>{eyes, termOne, termTwo}));
  EXPECT_EQ(list(*windowList, kWindowListOptionOnScreenOnly).orderOf(all), order);

  // Below a window: only what is behind it.
  Listing listing =
      list(*windowList, kWindowListOptionOnScreenBelowWindow, static_cast<uint32_t>(termOne));
  EXPECT_EQ(listing.orderOf(all), (std::vector<unsigned long>{termTwo}));
  // Below a window that is no client (the root): everything on screen.
  listing = list(*windowList, kWindowListOptionOnScreenBelowWindow,
                 static_cast<uint32_t>(connection->root()));
  EXPECT_EQ(listing.orderOf(all).size(), 3u);

  // Minimised windows are off screen.
  commandOutput({"xdotool", "windowminimize", "--sync", std::to_string(termOne)});
  EXPECT_FALSE(list(*windowList, kWindowListOptionOnScreenOnly).has(termOne));
  EXPECT_TRUE(list(*windowList, kWindowListOptionOnScreenOnly).has(termTwo));
  EXPECT_TRUE(list(*windowList, 0).has(termOne));
}

TEST_F(WindowListTest, WithoutAWindowManagerTheRootsChildrenInTheirOrder) {
  const std::string check = propertyOf(connection->root(), "_NET_SUPPORTING_WM_CHECK");
  const unsigned long checkWindow = std::stoul(check.substr(check.rfind(' ') + 1), nullptr, 16);
  commandOutput({"openbox", "--exit"});
  // Openbox hands its clients back to the root as it goes, and its check
  // window goes with its connection.
  const std::vector<unsigned long> all{termOne, termTwo, eyes};
  ASSERT_TRUE(serveMainContextUntil(
      [&] { return listedUnderRoot(all, true).size() == 3 && windowInfo(checkWindow).gone(); }));
  commandOutput({"xdotool", "windowraise", std::to_string(termOne)});
  const Listing listing = list(*windowList, kWindowListOptionOnScreenOnly);
  EXPECT_EQ(listing.entries.size(), 3u);
  EXPECT_EQ(listing.orderOf(all), listedUnderRoot(all));
  EXPECT_EQ(listing.orderOf(all).front(), termOne);
  // No frames any more: the clients themselves.
  EXPECT_EQ(boundsOf(listing.byWindow.at(termOne)), outerRect(termOne));
  EXPECT_EQ(intOf(listing.byWindow.at(termOne), kCGWindowOwnerPID), hintedPid(termOne));
  EXPECT_EQ(intOf(listing.byWindow.at(eyes), kCGWindowOwnerPID), xeyesPid());
}

}  // namespace
}  // namespace dravel::linux_platform
