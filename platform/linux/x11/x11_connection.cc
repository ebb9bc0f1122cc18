#include "platform/linux/x11/x11_connection.h"

#include <X11/extensions/XRes.h>
#include <X11/extensions/XShm.h>
#include <X11/extensions/Xcomposite.h>
#include <X11/extensions/Xfixes.h>
#include <X11/extensions/Xrandr.h>
#include <glib.h>
#include <unistd.h>

#include <cerrno>

#include <algorithm>
#include <atomic>
#include <cstdio>
#include <cstring>
#include <mutex>
#include <set>
#include <tuple>

#include "channels/log.h"

namespace dravel::linux_platform {

namespace {

// The innermost trap of this thread; each links to the one it nests in.
thread_local XErrorTrap* tInnermostTrap = nullptr;

std::mutex& stateMutex() {
  static auto* const m = new std::mutex;
  return *m;
}
// Connections opened through XConnection: their untrapped errors are logged,
// never handed to the toolkit's handler.
std::set<Display*>& ourDisplays() {
  static auto* const s = new std::set<Display*>;
  return *s;
}
std::set<std::tuple<int, int, int>>& loggedKinds() {
  static auto* const s = new std::set<std::tuple<int, int, int>>;
  return *s;
}
std::function<void(const std::string&)>& lostHandler() {
  static auto* const h = new std::function<void(const std::string&)>;
  return *h;
}
XErrorHandler gPreviousErrorHandler = nullptr;
std::atomic<uint64_t> gUntrapped{0};
std::atomic<bool> gLost{false};

std::string errorText(Display* display, int code) {
  char text[256] = {0};
  XGetErrorText(display, code, text, sizeof text);
  return text;
}

int handleIOError(Display* display) {
  // Only the first loss is reported: every connection to the same server
  // fails at once.
  if (!gLost.exchange(true)) {
    std::string name = display ? DisplayString(display) : "";
    std::string message = "lost the connection to the X server " + name +
                          (errno ? std::string(" (") + std::strerror(errno) + ")" : "");
    std::function<void(const std::string&)> handler;
    {
      std::lock_guard<std::mutex> lock(stateMutex());
      handler = lostHandler();
    }
    if (handler) {
      handler(message);
    } else {
      const std::string line = "dravel-host: " + message + "\n";
      [[maybe_unused]] ssize_t n = ::write(2, line.data(), line.size());
    }
  }
  ::_exit(1);
}

// Each source holds its connection.
struct XSource {
  GSource base;
  XConnection* connection;
  GPollFD poll;
};

gboolean xSourcePrepare(GSource* source, gint* timeout) {
  auto* s = reinterpret_cast<XSource*>(source);
  *timeout = -1;
  Display* display = s->connection->display();
  XFlush(display);
  return XQLength(display) > 0;
}

gboolean xSourceCheck(GSource* source) {
  auto* s = reinterpret_cast<XSource*>(source);
  return (s->poll.revents & (G_IO_IN | G_IO_HUP | G_IO_ERR)) != 0 ||
         XQLength(s->connection->display()) > 0;
}

gboolean xSourceDispatch(GSource* source, GSourceFunc, gpointer) {
  reinterpret_cast<XSource*>(source)->connection->dispatchPending();
  return G_SOURCE_CONTINUE;
}

GSourceFuncs gXSourceFuncs = {xSourcePrepare, xSourceCheck, xSourceDispatch,
                              nullptr,        nullptr,      nullptr};

}  // namespace

int handleXError(Display* display, XErrorEvent* event) {
  for (XErrorTrap* trap = tInnermostTrap; trap; trap = trap->outer_) {
    if (trap->display_ != display) continue;
    ++trap->count_;
    if (!trap->first_) {
      trap->first_ = XErrorRecord{event->error_code, event->request_code, event->minor_code,
                                  event->resourceid, errorText(display, event->error_code)};
    }
    return 0;
  }
  bool ours = false;
  bool first = false;
  {
    std::lock_guard<std::mutex> lock(stateMutex());
    ours = ourDisplays().count(display) > 0;
    if (ours || !gPreviousErrorHandler) {
      first =
          loggedKinds().insert({event->error_code, event->request_code, event->minor_code}).second;
    }
  }
  if (!ours && gPreviousErrorHandler) return gPreviousErrorHandler(display, event);
  ++gUntrapped;
  if (first) {
    NSLog("[x11] error %s (request %d.%d, resource 0x%lx); later ones of this kind are not logged",
          errorText(display, event->error_code).c_str(), event->request_code, event->minor_code,
          event->resourceid);
  }
  return 0;
}

XErrorTrap::XErrorTrap(Display* display) : display_(display), outer_(tInnermostTrap) {
  tInnermostTrap = this;
}

namespace {

// Waits for the server to answer every request made so far, unless it has
// already: when the last request sent had a reply that has been read, the
// errors of all before it have come too (the server answers in order), and
// a round trip would only cost time.
void settle(Display* display) {
  if (LastKnownRequestProcessed(display) + 1 != NextRequest(display)) XSync(display, False);
}

}  // namespace

XErrorTrap::~XErrorTrap() {
  // Errors of requests made inside the trap may still be on their way.
  if (display_) settle(display_);
  tInnermostTrap = outer_;
}

std::optional<XErrorRecord> XErrorTrap::sync() {
  settle(display_);
  return first_;
}

void installXErrorHandlers() {
  static std::once_flag once;
  std::call_once(once, [] {
    XErrorHandler previous = XSetErrorHandler(handleXError);
    if (previous != handleXError) gPreviousErrorHandler = previous;
    XSetIOErrorHandler(handleIOError);
  });
}

void setDisplayLostHandler(std::function<void(const std::string&)> handler) {
  std::lock_guard<std::mutex> lock(stateMutex());
  lostHandler() = std::move(handler);
}

uint64_t untrappedXErrorCount() {
  return gUntrapped.load();
}

std::unique_ptr<XConnection> XConnection::open(const char* displayName, std::string* why) {
  installXErrorHandlers();
  Display* display = XOpenDisplay(displayName);
  if (!display) {
    if (why) {
      const char* name = displayName ? displayName : std::getenv("DISPLAY");
      *why = std::string("cannot open the X display ") + (name && *name ? name : "(DISPLAY unset)");
    }
    return nullptr;
  }
  {
    std::lock_guard<std::mutex> lock(stateMutex());
    ourDisplays().insert(display);
  }
  std::unique_ptr<XConnection> connection(new XConnection(display));
  connection->probeExtensions();
  return connection;
}

XConnection::XConnection(Display* display) : display_(display), root_(DefaultRootWindow(display)) {}

XConnection::~XConnection() {
  if (source_) {
    g_source_destroy(source_);
    g_source_unref(source_);
  }
  if (display_) {
    XCloseDisplay(display_);
    std::lock_guard<std::mutex> lock(stateMutex());
    ourDisplays().erase(display_);
  }
}

std::string XConnection::displayName() const {
  return DisplayString(display_);
}

Atom XConnection::atom(const char* name) {
  for (const auto& [known, value] : atoms_) {
    if (known == name) return value;
  }
  Atom value = XInternAtom(display_, name, False);
  atoms_.emplace_back(name, value);
  return value;
}

void XConnection::probeExtensions() {
  int eventBase = 0;
  int errorBase = 0;
  if (XRRQueryExtension(display_, &eventBase, &errorBase)) {
    int major = 0;
    int minor = 0;
    if (XRRQueryVersion(display_, &major, &minor)) {
      extensions_.randrMajor = major;
      extensions_.randrMinor = minor;
      extensions_.randr = major > 1 || (major == 1 && minor >= 5);
      extensions_.randrEventBase = eventBase;
    }
  }
  extensions_.shm = XShmQueryExtension(display_);
  if (XFixesQueryExtension(display_, &eventBase, &errorBase)) {
    int major = 5;
    int minor = 0;
    XFixesQueryVersion(display_, &major, &minor);
    extensions_.fixes = true;
    extensions_.fixesEventBase = eventBase;
  }
  extensions_.xres = XResQueryExtension(display_, &eventBase, &errorBase);
  extensions_.composite = XCompositeQueryExtension(display_, &eventBase, &errorBase);
  int opcode = 0;
  if (XQueryExtension(display_, "XInputExtension", &opcode, &eventBase, &errorBase)) {
    extensions_.xinput2 = true;
    extensions_.xinputOpcode = opcode;
  }
}

void XConnection::attach(GMainContext* context) {
  if (source_) return;
  source_ = g_source_new(&gXSourceFuncs, sizeof(XSource));
  auto* s = reinterpret_cast<XSource*>(source_);
  s->connection = this;
  s->poll.fd = ConnectionNumber(display_);
  s->poll.events = G_IO_IN | G_IO_HUP | G_IO_ERR;
  g_source_add_poll(source_, &s->poll);
  g_source_set_name(source_, "x11 connection");
  g_source_attach(source_, context);
}

uint64_t XConnection::addEventListener(EventListener listener) {
  const uint64_t id = nextListener_++;
  listeners_.emplace_back(id, std::move(listener));
  return id;
}

void XConnection::removeEventListener(uint64_t id) {
  std::erase_if(listeners_, [id](const auto& entry) { return entry.first == id; });
}

void XConnection::dispatchPending() {
  while (XPending(display_) > 0) {
    XEvent event;
    XNextEvent(display_, &event);
    // Generic events (XInput 2) carry their data in a cookie.
    const bool cookie =
        event.type == GenericEvent && XGetEventData(display_, &event.xcookie) == True;
    // A listener may remove listeners: walk a copy of the ids.
    std::vector<uint64_t> ids;
    ids.reserve(listeners_.size());
    for (const auto& entry : listeners_) ids.push_back(entry.first);
    for (uint64_t id : ids) {
      auto found = std::find_if(listeners_.begin(), listeners_.end(),
                                [id](const auto& entry) { return entry.first == id; });
      if (found == listeners_.end()) continue;
      EventListener listener = found->second;
      listener(event);
    }
    if (cookie) XFreeEventData(display_, &event.xcookie);
  }
}

}  // namespace dravel::linux_platform
