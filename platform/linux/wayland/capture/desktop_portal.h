// The desktop portal (org.freedesktop.portal.Desktop on the session bus), as
// the capture routes use it from the capture engine's worker thread.
//
// A portal method that may ask the user answers at once with the path of a
// Request object; the real answer comes later as that object's Response
// signal, perhaps only once the user has chosen in the desktop's dialog, and
// perhaps never (a dialog left open, a backend that hangs). The portal here
// waits for it on a main context of its own, bounded by portalTimeout() and
// polling `cancelled`; a request not answered in time is closed (which takes
// its dialog down), logged once, and answered as timed out.
//
// Threads: made, used and destroyed on one thread, except waiting().
#pragma once

#include <gio/gio.h>

#include <atomic>
#include <chrono>
#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>

namespace dravel::linux_platform {

struct GVariantUnref {
  void operator()(GVariant* v) const { g_variant_unref(v); }
};
using GVariantPtr = std::unique_ptr<GVariant, GVariantUnref>;

// How long a portal request may wait for its answer: DRAVEL_PORTAL_TIMEOUT_MS
// where it is set to a number of milliseconds (at least 100, at most ten
// minutes), else 60 s, time for a user to read the desktop's dialog.
std::chrono::milliseconds portalTimeout();

class DesktopPortal {
 public:
  // A private connection to the session bus, its answers coming to a main
  // context of the portal's own. Null, with `why`, without a session bus.
  static std::unique_ptr<DesktopPortal> connect(std::string* why);
  ~DesktopPortal();
  DesktopPortal(const DesktopPortal&) = delete;
  DesktopPortal& operator=(const DesktopPortal&) = delete;

  // A property of one of the portal's interfaces ("version",
  // "AvailableSourceTypes"), starting the portal if the bus can. Null, with
  // `why`, when the portal or the interface is not there.
  GVariantPtr property(const char* interface, const char* name, std::string* why);

  struct Answer {
    enum class Outcome { kAnswered, kFailed, kTimedOut, kCancelled };
    Outcome outcome = Outcome::kFailed;
    // The Response's code: 0 granted, 1 the user said no, 2 anything else.
    uint32_t response = 2;
    // The Response's results (a{sv}); null unless answered.
    GVariantPtr results;
    // What went wrong, for a message, unless granted.
    std::string error;
    bool granted() const { return outcome == Outcome::kAnswered && response == 0; }
  };

  // Calls `method` of `interface` with the parameters `parameters` builds
  // (a floating variant) around the handle token it is given, which the
  // call's options must carry as "handle_token", and waits for the
  // Response. `what` names the request in messages ("Start of the screen
  // cast").
  Answer request(const char* interface, const char* method, const std::string& what,
                 const std::function<GVariant*(const char* handleToken)>& parameters,
                 const std::function<bool()>& cancelled);

  // A plain method call, bounded in time; with `fds`, the descriptors of
  // the reply are handed over there. Null, with `why`, on failure.
  GVariantPtr call(const char* interface, const char* method, GVariant* parameters,
                   const char* replyType, GUnixFDList** fds, std::string* why);

  // A fresh token for a request's or a session's handle ("dravel_3_1f2e").
  std::string newToken();

  // Closes a session the portal made (org.freedesktop.portal.Session.Close),
  // without waiting for the answer.
  void closeSession(const std::string& sessionHandle);

  // Any thread. Whether a request waits for its answer now: the desktop's
  // dialog may be up.
  bool waiting() const { return waiting_.load() > 0; }

 private:
  DesktopPortal(GMainContext* context, GDBusConnection* connection);
  // Waits on the portal's context until `done` or the deadline or
  // `cancelled`, whichever first.
  enum class Wait { kDone, kTimedOut, kCancelled };
  Wait waitFor(const std::function<bool()>& done, std::chrono::milliseconds limit,
               const std::function<bool()>& cancelled);

  GMainContext* context_;
  GDBusConnection* connection_;
  std::string sender_;
  unsigned serial_ = 0;
  std::atomic<int> waiting_{0};
};

}  // namespace dravel::linux_platform
