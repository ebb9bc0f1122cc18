// One connection to the X server, and the error handling every X11 service of
// the Linux platform shares.
//
// Threads: a connection is used by one thread only. The main-thread services
// share one connection (attached to the main GLib context, which dispatches
// its events); the capture engine's worker opens its own.
//
// Errors: X reports a failed request asynchronously. Every request whose
// failure is expected (a window that may have gone, an extension a remote
// server lacks) runs inside an XErrorTrap, which collects the errors of its
// connection on its thread. An error outside every trap is logged once per
// kind and otherwise ignored: the host never ends on a protocol error.
//
// A lost connection (the server went away) cannot be survived by Xlib: the
// handler set with setDisplayLostHandler runs, then the process ends.
#pragma once

#include <X11/Xlib.h>

#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

typedef struct _GMainContext GMainContext;
typedef struct _GSource GSource;

namespace dravel::linux_platform {

// The X extensions the services use, as this server offers them.
struct XExtensions {
  bool randr = false;  // RandR 1.5 or later (monitors)
  int randrEventBase = 0;
  int randrMajor = 0;
  int randrMinor = 0;
  bool shm = false;  // MIT-SHM, and usable from this client (not remote)
  bool fixes = false;
  int fixesEventBase = 0;
  bool xres = false;
  bool composite = false;
  bool xinput2 = false;
  int xinputOpcode = 0;
};

class XConnection {
 public:
  // Opens `displayName` (null: $DISPLAY). Null when it cannot be opened;
  // `why` then says why.
  static std::unique_ptr<XConnection> open(const char* displayName, std::string* why = nullptr);
  ~XConnection();
  XConnection(const XConnection&) = delete;
  XConnection& operator=(const XConnection&) = delete;

  Display* display() const { return display_; }
  Window root() const { return root_; }
  const XExtensions& extensions() const { return extensions_; }
  std::string displayName() const;

  // Interned once per name.
  Atom atom(const char* name);

  // Dispatches this connection's events on `context` (the main loop) to the
  // listeners. Call once.
  void attach(GMainContext* context);
  using EventListener = std::function<void(const XEvent&)>;
  // Returns an id for removeEventListener.
  uint64_t addEventListener(EventListener listener);
  void removeEventListener(uint64_t id);
  // Reads and dispatches every event already queued (the GLib source calls
  // it; tests may call it after an XSync).
  void dispatchPending();

 private:
  explicit XConnection(Display* display);
  void probeExtensions();

  Display* display_ = nullptr;
  Window root_ = 0;
  XExtensions extensions_;
  std::vector<std::pair<std::string, Atom>> atoms_;
  GSource* source_ = nullptr;
  uint64_t nextListener_ = 1;
  std::vector<std::pair<uint64_t, EventListener>> listeners_;
};

// One X protocol error as a trap saw it.
struct XErrorRecord {
  unsigned char errorCode = 0;
  unsigned char requestCode = 0;
  unsigned char minorCode = 0;
  unsigned long resourceId = 0;
  // The server's text for the error code.
  std::string text;
};

// Collects the X errors of `display` raised on this thread while it lives.
// Traps nest; the innermost one for a display gets its errors.
class XErrorTrap {
 public:
  explicit XErrorTrap(Display* display);
  ~XErrorTrap();
  XErrorTrap(const XErrorTrap&) = delete;
  XErrorTrap& operator=(const XErrorTrap&) = delete;

  // Waits for the server to answer every request made so far (XSync), then
  // returns the first error, if any. The trap keeps collecting afterwards.
  std::optional<XErrorRecord> sync();
  // Whether an error arrived, without a round trip.
  bool failed() const { return first_.has_value(); }

 private:
  friend int handleXError(Display*, XErrorEvent*);
  Display* display_;
  std::optional<XErrorRecord> first_;
  int count_ = 0;
  XErrorTrap* outer_ = nullptr;
};

// Installs the process's X error handlers, once; later calls do nothing.
// Call after the toolkit has opened its own display (it installs handlers of
// its own, which these replace for every connection).
void installXErrorHandlers();

// Runs when a connection to the server is lost, on the thread that noticed,
// with a message that names the display. Must not return control to Xlib
// in a way that uses the display again; the process ends after it returns.
void setDisplayLostHandler(std::function<void(const std::string& message)> handler);

// How many X errors arrived outside every trap (logged once per kind).
uint64_t untrappedXErrorCount();

}  // namespace dravel::linux_platform
