// The X server's client windows as the window list's entries, front to back.
//
// With a window manager that keeps the usual window-manager hints, the order
// is its stacking list (_NET_CLIENT_LIST_STACKING, bottom to top, reversed);
// without one, the root's children in stacking order, each standing for the
// client window inside it (the one with WM_STATE). Windows that bypass the
// window manager (menus, tooltips, override-redirect overlays) are not
// clients and are never listed.
//
// Reading is split in two: what X says about one window is gathered into a
// WindowFacts, and a pure translation turns the facts into an entry.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

#include "channels/value.h"
#include "platform/linux/session/screen_layout.h"
#include "platform/seam/window_list.h"

namespace dravel::linux_platform {

class X11Screens;
class XConnection;

// The window's type as the window-manager hints give it (the first one
// known of its list); windows without one are normal windows.
enum class WindowType {
  kNormal,
  kDialog,
  kUtility,
  kToolbar,
  kMenu,
  kSplash,
  kDock,
  kDesktop,
  kDropdownMenu,
  kPopupMenu,
  kCombo,
  kTooltip,
  kNotification,
  kDnd,
};

// Layers, in the window list's numbering.
inline constexpr int64_t kDesktopLayer = -2147483628;
inline constexpr int64_t kNormalLayer = 0;
inline constexpr int64_t kFloatingLayer = 3;
inline constexpr int64_t kDockLayer = 20;
inline constexpr int64_t kStatusLayer = 25;
inline constexpr int64_t kPopUpMenuLayer = 101;
inline constexpr int64_t kHelpLayer = 200;
inline constexpr int64_t kDraggingLayer = 500;

// What X says about one client window.
struct WindowFacts {
  uint32_t window = 0;
  // The client window's area in root pixels: its origin translated to the
  // root, and its size.
  int64_t x = 0;
  int64_t y = 0;
  int64_t width = 0;
  int64_t height = 0;
  // What the window manager's frame adds around the client (grows the
  // bounds), and what the client itself draws as invisible shadow inside its
  // area (client-side decorations; shrinks them).
  std::optional<FrameExtents> frameExtents;
  std::optional<FrameExtents> clientShadow;
  WindowType type = WindowType::kNormal;
  bool above = false;   // _NET_WM_STATE_ABOVE
  bool hidden = false;  // _NET_WM_STATE_HIDDEN (minimised, shaded away)
  bool viewable = false;
  // _NET_WM_DESKTOP; 0xFFFFFFFF is every desktop.
  std::optional<uint32_t> desktop;
  // _NET_WM_PID (left out for a client of another machine), and the pid
  // the server knows for the client's connection.
  std::optional<int64_t> hintedPid;
  std::optional<int64_t> connectionPid;
  // WM_CLASS's class part, and the owning process's name (/proc/PID/comm).
  std::optional<std::string> className;
  std::optional<std::string> processName;
  // _NET_WM_NAME (UTF-8), and WM_NAME (UTF-8, or Latin-1 when its type is
  // STRING, unless its bytes are UTF-8, as many clients write them); as
  // read, possibly invalid or cut short.
  std::optional<std::string> netName;
  std::optional<std::string> name;
  bool nameIsLatin1 = false;
  // Whether WM_NAME was longer than what was read.
  bool nameCut = false;
  // _NET_WM_WINDOW_OPACITY, 0xFFFFFFFF being opaque.
  std::optional<uint32_t> opacity;
};

// The layer of a window of these facts.
int64_t windowLayer(const WindowFacts& facts);
// Whether the window passes the on-screen and desktop-element filters of
// `option` (the relative-window filter is the list's). `currentDesktop` is
// the window manager's current desktop, none when it has no desktops.
bool passesOptions(const WindowFacts& facts, uint32_t option,
                   std::optional<uint32_t> currentDesktop);
// The window's entry: number, layer, owner pid and name, name, alpha (only
// when the window sets an opacity) and bounds in global top-left points.
// Names are valid UTF-8 (bad bytes become U+FFFD, a sequence cut off at the
// end is dropped) of at most kMaxWindowTitleBytes; keys without a value are
// left out.
ValueMap windowEntry(const WindowFacts& facts, const DesktopLayout& layout);

class X11WindowList : public WindowList {
 public:
  // `connection`: the main-thread connection; `screens` gives the layout the
  // bounds are placed in.
  X11WindowList(XConnection& connection, const X11Screens& screens);

  // Options: kWindowListOptionOnScreenOnly, kWindowListOptionOnScreenBelowWindow
  // (on screen and behind `relativeToWindow`; every on-screen window when
  // that is 0 or not a listed client, which is how an override-redirect
  // window, above every client, is taken), kWindowListExcludeDesktopElements.
  // A window that goes away while it is read is left out.
  std::optional<Value> copyWindowInfo(uint32_t option, uint32_t relativeToWindow) override;

 private:
  XConnection& connection_;
  const X11Screens& screens_;
  std::string hostName_;
};

// The pid of the process that owns the active window (_NET_ACTIVE_WINDOW),
// from its hints or else from the server; none when there is no active
// window or its owner is unknown.
std::optional<int> activeWindowPid(XConnection& connection);

}  // namespace dravel::linux_platform
