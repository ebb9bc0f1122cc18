// The D-Bus side of the KWin ScreenShot2 route: calls to KWin on the route's
// own main context, bounded in time and watching for a cancel, and the
// reader of the pipe KWin writes a screen's pixels into while the call is
// pending.
#pragma once

#include <gio/gio.h>
#include <gio/gunixfdlist.h>

#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

namespace dravel::linux_platform {

inline constexpr char kKWinService[] = "org.kde.KWin";
// Every call to the bus and KWin ends within this time.
inline constexpr int kKWinCallTimeoutMs = 5000;

struct VariantDeleter {
  void operator()(GVariant* v) const { g_variant_unref(v); }
};
using VariantPtr = std::unique_ptr<GVariant, VariantDeleter>;

// Reads a pipe to its end, at most `limit` bytes; one more byte is an
// error, and nothing beyond that is read.
struct PipeReader {
  int fd = -1;
  uint64_t limit = 0;
  std::vector<uint8_t> bytes;
  bool ended = false;
  bool overflow = false;
  int readError = 0;

  // Reads what the pipe holds now. False once it is done with the pipe.
  bool readAvailable();
  bool finish();
};

// A call's answer, filled in on the route's context.
struct PendingReply {
  bool done = false;
  GVariant* reply = nullptr;
  GError* error = nullptr;
  ~PendingReply() {
    if (reply) g_variant_unref(reply);
    if (error) g_error_free(error);
  }
};

// How a call ended.
struct CallOutcome {
  std::shared_ptr<PendingReply> answer;
  bool cancelled = false;
  bool timedOut = false;
};

bool remoteErrorIs(const GError* error, const char* name);

// Whether the error says that the interface is not there (any more).
bool interfaceGone(const GError* error);

// Calls KWin on `context` and waits, bounded, polling `cancelled`, for its
// answer and, with a `reader`, for the pipe's end. `accept` sees a
// successful reply first and may end the wait (false). Takes `parameters`
// (floating) and `fds`.
CallOutcome callKWin(GMainContext* context, GDBusConnection* connection, const char* path,
                     const char* interface, const char* method, GVariant* parameters,
                     GUnixFDList* fds, PipeReader* reader, const std::function<bool()>& cancelled,
                     const std::function<bool(GVariant*)>& accept);

// A call on `connection` bounded in time; null with `why` on failure.
VariantPtr callSync(GDBusConnection* connection, const char* service, const char* path,
                    const char* interface, const char* method, GVariant* parameters,
                    const char* replyType, std::string* why);

}  // namespace dravel::linux_platform
