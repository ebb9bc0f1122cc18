#include "platform/linux/x11/x11_window_list.h"

#include <X11/Xatom.h>
#include <X11/Xlib.h>
#include <X11/Xutil.h>
#include <X11/extensions/XRes.h>
#include <limits.h>
#include <unistd.h>

#include <algorithm>
#include <fstream>
#include <vector>

#include "channels/utf8.h"
#include "platform/linux/x11/x11_screens.h"
#include "platform/linux/x11/x11_connection.h"
#include "platform/linux/x11/x11_properties.h"

namespace dravel::linux_platform {

namespace {

constexpr uint32_t kAllDesktops = 0xFFFFFFFFu;
// Names are read a little past the bound, so that a name cut on a UTF-8
// boundary after the read still fills it.
constexpr long kNameReadBytes = static_cast<long>(kMaxWindowTitleBytes) + 8;
// The longest stacking list read, in windows.
constexpr long kMaxStackingWindows = 65536;
// How deep a client is looked for under a top-level window without a
// window manager that lists its clients.
constexpr int kClientSearchDepth = 3;

// Whether `text` is UTF-8 (when it was `cut` short, a sequence cut off at its
// end allowed). Many clients put UTF-8 in properties typed as Latin-1; real
// Latin-1 text with accents is almost never valid UTF-8.
bool looksLikeUtf8(std::string_view text, bool cut);

std::string boundedName(std::string_view text) {
  const std::string valid = validUtf8(text);
  return std::string(truncateUtf8(valid, kMaxWindowTitleBytes));
}

bool looksLikeUtf8(std::string_view text, bool cut) {
  const std::string valid = validUtf8(text);
  if (!cut) return valid == text;
  return valid.size() <= text.size() && text.size() - valid.size() <= 3 &&
         text.substr(0, valid.size()) == valid;
}

}  // namespace

int64_t windowLayer(const WindowFacts& facts) {
  int64_t layer = kNormalLayer;
  switch (facts.type) {
    case WindowType::kDesktop:
      return kDesktopLayer;
    case WindowType::kNormal:
    case WindowType::kDialog:
    case WindowType::kUtility:
    case WindowType::kSplash:
      layer = kNormalLayer;
      break;
    case WindowType::kToolbar:
    case WindowType::kMenu:
      layer = kFloatingLayer;
      break;
    case WindowType::kDock:
      layer = kDockLayer;
      break;
    case WindowType::kNotification:
      layer = kStatusLayer;
      break;
    case WindowType::kDropdownMenu:
    case WindowType::kPopupMenu:
    case WindowType::kCombo:
      layer = kPopUpMenuLayer;
      break;
    case WindowType::kTooltip:
      layer = kHelpLayer;
      break;
    case WindowType::kDnd:
      layer = kDraggingLayer;
      break;
  }
  if (facts.above) layer = std::max(layer, kFloatingLayer);
  return layer;
}

bool passesOptions(const WindowFacts& facts, uint32_t option,
                   std::optional<uint32_t> currentDesktop) {
  if ((option & kWindowListExcludeDesktopElements) && facts.type == WindowType::kDesktop) {
    return false;
  }
  if (option & (kWindowListOptionOnScreenOnly | kWindowListOptionOnScreenBelowWindow)) {
    if (!facts.viewable || facts.hidden) return false;
    if (facts.desktop && currentDesktop && *facts.desktop != kAllDesktops &&
        *facts.desktop != *currentDesktop) {
      return false;
    }
  }
  return true;
}

ValueMap windowEntry(const WindowFacts& facts, const DesktopLayout& layout) {
  int64_t x = facts.x;
  int64_t y = facts.y;
  int64_t width = facts.width;
  int64_t height = facts.height;
  if (const auto& e = facts.frameExtents) {
    x -= e->left;
    y -= e->top;
    width += e->left + e->right;
    height += e->top + e->bottom;
  }
  if (const auto& e = facts.clientShadow) {
    x += e->left;
    y += e->top;
    width -= e->left + e->right;
    height -= e->top + e->bottom;
  }
  const Rect bounds =
      layout.topLeftBoundsFromRoot(static_cast<double>(x), static_cast<double>(y),
                                   static_cast<double>(std::max<int64_t>(width, 0)),
                                   static_cast<double>(std::max<int64_t>(height, 0)));

  ValueMap entry;
  entry.set(kCGWindowLayer, Value(windowLayer(facts)));
  entry.set(kCGWindowNumber, Value(static_cast<int64_t>(facts.window)));
  std::optional<int64_t> pid;
  if (facts.hintedPid && *facts.hintedPid > 0) {
    pid = facts.hintedPid;
  } else if (facts.connectionPid && *facts.connectionPid > 0) {
    pid = facts.connectionPid;
  }
  if (pid) entry.set(kCGWindowOwnerPID, Value(*pid));
  if (facts.className && !facts.className->empty()) {
    entry.set(kCGWindowOwnerName, Value(boundedName(*facts.className)));
  } else if (facts.processName && !facts.processName->empty()) {
    entry.set(kCGWindowOwnerName, Value(boundedName(*facts.processName)));
  }
  if (facts.netName) {
    entry.set(kCGWindowName, Value(boundedName(*facts.netName)));
  } else if (facts.name) {
    entry.set(kCGWindowName,
              Value(boundedName(facts.nameIsLatin1 && !looksLikeUtf8(*facts.name, facts.nameCut)
                                    ? latin1ToUtf8(*facts.name)
                                    : *facts.name)));
  }
  if (facts.opacity) {
    entry.set(kCGWindowAlpha, Value(static_cast<double>(*facts.opacity) / 4294967295.0));
  }
  entry.set(kCGWindowBounds, Value(ValueMap{{"X", Value(bounds.x)},
                                            {"Y", Value(bounds.y)},
                                            {"Width", Value(bounds.width)},
                                            {"Height", Value(bounds.height)}}));
  return entry;
}

// ---------------------------------------------------------------------------
// Reading X.

namespace {

std::optional<std::string> readProcessName(int64_t pid) {
  std::ifstream file("/proc/" + std::to_string(pid) + "/comm");
  std::string name;
  if (!file || !std::getline(file, name) || name.empty()) return std::nullopt;
  return name;
}

std::string localHostName() {
  char name[HOST_NAME_MAX + 1] = {0};
  if (gethostname(name, sizeof name - 1) != 0) return {};
  return name;
}

// The pid the server knows for the connection that made `window`.
std::optional<int64_t> connectionPid(XConnection& connection, Window window) {
  if (!connection.extensions().xres) return std::nullopt;
  Display* display = connection.display();
  XResClientIdSpec which;
  which.client = window;
  which.mask = XRES_CLIENT_ID_PID_MASK;
  long count = 0;
  XResClientIdValue* values = nullptr;
  std::optional<int64_t> pid;
  // Its own trap: a server whose XRes predates client ids refuses the
  // request, which says nothing about the window.
  XErrorTrap trap(display);
  if (XResQueryClientIds(display, 1, &which, &count, &values) == Success) {
    for (long i = 0; i < count && !pid; ++i) {
      const pid_t found = XResGetClientPid(&values[i]);
      if (found > 0) pid = found;
    }
    XResClientIdsDestroy(count, values);
  }
  return pid;
}

// _NET_WM_PID, unless the window's client runs on another machine (where
// the number means nothing here).
std::optional<int64_t> hintedPid(XConnection& connection, Window window,
                                 const std::string& hostName) {
  Display* display = connection.display();
  const auto pid = readLong(display, window, connection.atom("_NET_WM_PID"), XA_CARDINAL);
  if (!pid || *pid == 0 || *pid > 0x7FFFFFFFul) return std::nullopt;
  if (auto machine = readText(display, window, XA_WM_CLIENT_MACHINE, 256)) {
    std::string name = machine->bytes.substr(0, machine->bytes.find('\0'));
    if (!name.empty() && !hostName.empty() && name != hostName) return std::nullopt;
  }
  return static_cast<int64_t>(*pid);
}

struct KnownAtoms {
  Atom stacking;
  Atom currentDesktop;
  Atom windowType;
  Atom state;
  Atom stateAbove;
  Atom stateHidden;
  Atom desktop;
  Atom frameExtents;
  Atom gtkFrameExtents;
  Atom netName;
  Atom compoundText;
  Atom opacity;
  Atom wmState;
  std::vector<std::pair<Atom, WindowType>> types;
};

KnownAtoms knownAtoms(XConnection& connection) {
  KnownAtoms a;
  a.stacking = connection.atom("_NET_CLIENT_LIST_STACKING");
  a.currentDesktop = connection.atom("_NET_CURRENT_DESKTOP");
  a.windowType = connection.atom("_NET_WM_WINDOW_TYPE");
  a.state = connection.atom("_NET_WM_STATE");
  a.stateAbove = connection.atom("_NET_WM_STATE_ABOVE");
  a.stateHidden = connection.atom("_NET_WM_STATE_HIDDEN");
  a.desktop = connection.atom("_NET_WM_DESKTOP");
  a.frameExtents = connection.atom("_NET_FRAME_EXTENTS");
  a.gtkFrameExtents = connection.atom("_GTK_FRAME_EXTENTS");
  a.netName = connection.atom("_NET_WM_NAME");
  a.compoundText = connection.atom("COMPOUND_TEXT");
  a.opacity = connection.atom("_NET_WM_WINDOW_OPACITY");
  a.wmState = connection.atom("WM_STATE");
  const std::pair<const char*, WindowType> types[] = {
      {"_NET_WM_WINDOW_TYPE_NORMAL", WindowType::kNormal},
      {"_NET_WM_WINDOW_TYPE_DIALOG", WindowType::kDialog},
      {"_NET_WM_WINDOW_TYPE_UTILITY", WindowType::kUtility},
      {"_NET_WM_WINDOW_TYPE_TOOLBAR", WindowType::kToolbar},
      {"_NET_WM_WINDOW_TYPE_MENU", WindowType::kMenu},
      {"_NET_WM_WINDOW_TYPE_SPLASH", WindowType::kSplash},
      {"_NET_WM_WINDOW_TYPE_DOCK", WindowType::kDock},
      {"_NET_WM_WINDOW_TYPE_DESKTOP", WindowType::kDesktop},
      {"_NET_WM_WINDOW_TYPE_DROPDOWN_MENU", WindowType::kDropdownMenu},
      {"_NET_WM_WINDOW_TYPE_POPUP_MENU", WindowType::kPopupMenu},
      {"_NET_WM_WINDOW_TYPE_COMBO", WindowType::kCombo},
      {"_NET_WM_WINDOW_TYPE_TOOLTIP", WindowType::kTooltip},
      {"_NET_WM_WINDOW_TYPE_NOTIFICATION", WindowType::kNotification},
      {"_NET_WM_WINDOW_TYPE_DND", WindowType::kDnd},
  };
  for (const auto& [name, type] : types) a.types.emplace_back(connection.atom(name), type);
  return a;
}

std::optional<FrameExtents> readExtents(Display* display, Window window, Atom property) {
  auto items = readLongs(display, window, property, XA_CARDINAL, 4);
  if (!items || items->size() != 4) return std::nullopt;
  // Margins are small; anything else is garbage and ignored.
  for (unsigned long v : *items) {
    if (v > 0xFFFF) return std::nullopt;
  }
  return FrameExtents{static_cast<int64_t>((*items)[0]), static_cast<int64_t>((*items)[1]),
                      static_cast<int64_t>((*items)[2]), static_cast<int64_t>((*items)[3])};
}

// Whether a window manager that keeps the usual hints runs: the root names
// a check window that names itself.
bool hasHintingWindowManager(XConnection& connection) {
  Display* display = connection.display();
  const Atom check = connection.atom("_NET_SUPPORTING_WM_CHECK");
  XErrorTrap trap(display);
  const auto child = readLong(display, connection.root(), check, XA_WINDOW);
  if (!child || *child == 0) return false;
  const auto self = readLong(display, *child, check, XA_WINDOW);
  return !trap.sync() && self && *self == *child;
}

// A client window at or under `window` (the one with WM_STATE), within a
// few levels; 0 when there is none.
Window findClient(Display* display, Window window, Atom wmState, int depth) {
  if (hasProperty(display, window, wmState)) return window;
  if (depth <= 0) return 0;
  Window rootReturn = 0;
  Window parent = 0;
  Window* children = nullptr;
  unsigned int childCount = 0;
  if (!XQueryTree(display, window, &rootReturn, &parent, &children, &childCount)) return 0;
  Window found = 0;
  for (unsigned int i = childCount; i > 0 && !found; --i) {
    found = findClient(display, children[i - 1], wmState, depth - 1);
  }
  if (children) XFree(children);
  return found;
}

// One listed window: the client, and the top-level window that holds it
// (the frame, or the client itself), when it is known.
struct Listed {
  Window client = 0;
  Window topLevel = 0;
};

}  // namespace

X11WindowList::X11WindowList(XConnection& connection, const X11Screens& screens)
    : connection_(connection), screens_(screens), hostName_(localHostName()) {}

std::optional<Value> X11WindowList::copyWindowInfo(uint32_t option, uint32_t relativeToWindow) {
  Display* display = connection_.display();
  const Window root = connection_.root();
  const KnownAtoms atoms = knownAtoms(connection_);

  // Front to back.
  std::vector<Listed> windows;
  bool managed = false;
  if (hasHintingWindowManager(connection_)) {
    XErrorTrap trap(display);
    if (auto stacking = readLongs(display, root, atoms.stacking, XA_WINDOW, kMaxStackingWindows)) {
      managed = true;
      for (auto it = stacking->rbegin(); it != stacking->rend(); ++it) {
        if (*it != 0) windows.push_back({*it, 0});
      }
    }
  }
  if (!managed) {
    XErrorTrap trap(display);
    Window rootReturn = 0;
    Window parent = 0;
    Window* children = nullptr;
    unsigned int childCount = 0;
    if (!XQueryTree(display, root, &rootReturn, &parent, &children, &childCount)) {
      return std::nullopt;
    }
    for (unsigned int i = childCount; i > 0; --i) {
      const Window top = children[i - 1];
      XErrorTrap childTrap(display);
      Window client = findClient(display, top, atoms.wmState, kClientSearchDepth);
      if (!client) {
        // No window manager at all: an application's own top-level window.
        XWindowAttributes attributes;
        if (XGetWindowAttributes(display, top, &attributes) && !attributes.override_redirect &&
            attributes.map_state == IsViewable &&
            readText(display, top, XA_WM_CLASS, 1).has_value()) {
          client = top;
        }
      }
      if (!childTrap.sync() && client) windows.push_back({client, top});
    }
    if (children) XFree(children);
  }

  std::optional<uint32_t> currentDesktop;
  {
    XErrorTrap trap(display);
    if (auto desktop = readLong(display, root, atoms.currentDesktop, XA_CARDINAL)) {
      currentDesktop = static_cast<uint32_t>(*desktop);
    }
  }

  size_t first = 0;
  if (option & kWindowListOptionOnScreenBelowWindow && relativeToWindow != 0) {
    for (size_t i = 0; i < windows.size(); ++i) {
      if (windows[i].client == relativeToWindow || windows[i].topLevel == relativeToWindow) {
        first = i + 1;
        break;
      }
    }
  }

  const DesktopLayout layout = screens_.layout();
  ValueList entries;
  for (size_t i = first; i < windows.size() && entries.size() < kMaxWindowListEntries; ++i) {
    const Window window = windows[i].client;
    XErrorTrap trap(display);
    WindowFacts facts;
    facts.window = static_cast<uint32_t>(window);
    XWindowAttributes attributes;
    if (!XGetWindowAttributes(display, window, &attributes)) continue;
    facts.viewable = attributes.map_state == IsViewable;
    // The window's own border is part of it (a client without a window
    // manager keeps the one it asked for).
    const int64_t border = attributes.border_width;
    facts.width = attributes.width + 2 * border;
    facts.height = attributes.height + 2 * border;
    if (auto types = readLongs(display, window, atoms.windowType, XA_ATOM, 32)) {
      bool known = false;
      for (unsigned long type : *types) {
        for (const auto& [atom, kind] : atoms.types) {
          if (atom == type) {
            facts.type = kind;
            known = true;
            break;
          }
        }
        if (known) break;
      }
    }
    if (auto states = readLongs(display, window, atoms.state, XA_ATOM, 64)) {
      for (unsigned long state : *states) {
        if (state == atoms.stateAbove) facts.above = true;
        if (state == atoms.stateHidden) facts.hidden = true;
      }
    }
    if (auto desktop = readLong(display, window, atoms.desktop, XA_CARDINAL)) {
      facts.desktop = static_cast<uint32_t>(*desktop);
    }
    if (trap.failed() || !passesOptions(facts, option, currentDesktop)) continue;

    int rootX = 0;
    int rootY = 0;
    Window child = 0;
    if (!XTranslateCoordinates(display, window, root, 0, 0, &rootX, &rootY, &child)) continue;
    facts.x = rootX - border;
    facts.y = rootY - border;
    if (managed) {
      facts.frameExtents = readExtents(display, window, atoms.frameExtents);
    } else if (windows[i].topLevel != 0 && windows[i].topLevel != window) {
      // The frame of a window manager without the hints: its whole area.
      XWindowAttributes frame;
      if (XGetWindowAttributes(display, windows[i].topLevel, &frame)) {
        // Its position is its border's outer corner; its size leaves the
        // border out.
        const int64_t right = frame.x + frame.width + 2 * int64_t{frame.border_width};
        const int64_t bottom = frame.y + frame.height + 2 * int64_t{frame.border_width};
        facts.frameExtents = FrameExtents{facts.x - frame.x, right - (facts.x + facts.width),
                                          facts.y - frame.y, bottom - (facts.y + facts.height)};
      }
    }
    facts.clientShadow = readExtents(display, window, atoms.gtkFrameExtents);
    facts.hintedPid = hintedPid(connection_, window, hostName_);
    if (!facts.hintedPid) facts.connectionPid = connectionPid(connection_, window);
    if (auto wmClass = readText(display, window, XA_WM_CLASS, kNameReadBytes * 2)) {
      // Two strings, each ending in NUL: the instance, then the class.
      const std::string& bytes = wmClass->bytes;
      const size_t end = bytes.find('\0');
      if (end != std::string::npos) {
        std::string className = bytes.substr(end + 1);
        facts.className = className.substr(0, className.find('\0'));
      }
    }
    if (!facts.className || facts.className->empty()) {
      if (auto pid = facts.hintedPid ? facts.hintedPid : facts.connectionPid) {
        facts.processName = readProcessName(*pid);
      }
    }
    // UTF-8 whatever type it claims (some clients call it STRING).
    if (auto netName = readText(display, window, atoms.netName, kNameReadBytes)) {
      facts.netName = netName->bytes;
    } else if (auto name = readText(display, window, XA_WM_NAME, kNameReadBytes)) {
      if (name->type == XA_STRING) {
        facts.name = name->bytes;
        facts.nameIsLatin1 = true;
        facts.nameCut = name->cut;
      } else if (name->type == atoms.compoundText) {
        XTextProperty property;
        property.value = reinterpret_cast<unsigned char*>(name->bytes.data());
        property.encoding = name->type;
        property.format = 8;
        property.nitems = name->bytes.size();
        char** list = nullptr;
        int count = 0;
        if (Xutf8TextPropertyToTextList(display, &property, &list, &count) >= Success && list) {
          if (count > 0 && list[0]) facts.name = std::string(list[0]);
          XFreeStringList(list);
        }
      } else {
        facts.name = name->bytes;
      }
    }
    if (auto opacity = readLong(display, window, atoms.opacity, XA_CARDINAL)) {
      facts.opacity = static_cast<uint32_t>(*opacity);
    }
    if (trap.sync()) continue;  // went away while being read
    entries.push_back(Value(windowEntry(facts, layout)));
  }
  return Value(std::move(entries));
}

std::optional<int> activeWindowPid(XConnection& connection) {
  Display* display = connection.display();
  XErrorTrap trap(display);
  const auto active =
      readLong(display, connection.root(), connection.atom("_NET_ACTIVE_WINDOW"), XA_WINDOW);
  if (!active || *active == 0) return std::nullopt;
  std::optional<int64_t> pid = hintedPid(connection, *active, localHostName());
  if (!pid) pid = connectionPid(connection, *active);
  if (trap.sync() || !pid) return std::nullopt;
  return static_cast<int>(*pid);
}

}  // namespace dravel::linux_platform
