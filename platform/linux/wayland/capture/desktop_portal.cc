#include "platform/linux/wayland/capture/desktop_portal.h"

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <random>

#include "channels/log.h"
#include "platform/linux/session/private_bus.h"

namespace dravel::linux_platform {
namespace {

constexpr char kService[] = "org.freedesktop.portal.Desktop";
constexpr char kPath[] = "/org/freedesktop/portal/desktop";
// A plain call (no user in the loop) ends within this time.
constexpr std::chrono::milliseconds kCallTimeout{10000};
// How often a wait looks at `cancelled`.
constexpr unsigned kTickMs = 50;

// A call's answer, filled in on the portal's context; shared with the
// callback, which may come after the waiter has given up.
struct PendingCall {
  bool done = false;
  GVariant* reply = nullptr;
  GUnixFDList* fds = nullptr;
  GError* error = nullptr;
  ~PendingCall() {
    if (reply) g_variant_unref(reply);
    if (fds) g_object_unref(fds);
    if (error) g_error_free(error);
  }
};

void onCallDone(GObject* source, GAsyncResult* result, gpointer data) {
  std::unique_ptr<std::shared_ptr<PendingCall>> holder(
      static_cast<std::shared_ptr<PendingCall>*>(data));
  PendingCall& call = **holder;
  call.reply = g_dbus_connection_call_with_unix_fd_list_finish(G_DBUS_CONNECTION(source),
                                                               &call.fds, result, &call.error);
  call.done = true;
}

// A Response signal, once it came.
struct PendingResponse {
  bool done = false;
  uint32_t code = 2;
  GVariant* results = nullptr;
  ~PendingResponse() {
    if (results) g_variant_unref(results);
  }
};

void onResponse(GDBusConnection*, const gchar*, const gchar*, const gchar*, const gchar*,
                GVariant* parameters, gpointer data) {
  auto* response = static_cast<PendingResponse*>(data);
  if (response->done || !g_variant_is_of_type(parameters, G_VARIANT_TYPE("(ua{sv})"))) return;
  g_variant_get(parameters, "(u@a{sv})", &response->code, &response->results);
  response->done = true;
}

}  // namespace

std::chrono::milliseconds portalTimeout() {
  const char* text = std::getenv("DRAVEL_PORTAL_TIMEOUT_MS");
  if (text && *text) {
    char* end = nullptr;
    const long long ms = std::strtoll(text, &end, 10);
    if (end && *end == '\0' && ms > 0) {
      return std::chrono::milliseconds(std::clamp<long long>(ms, 100, 600000));
    }
  }
  return std::chrono::seconds(60);
}

std::unique_ptr<DesktopPortal> DesktopPortal::connect(std::string* why) {
  GMainContext* context = g_main_context_new();
  GDBusConnection* connection = connectPrivateSessionBus(context, why);
  if (!connection) {
    g_main_context_unref(context);
    return nullptr;
  }
  return std::unique_ptr<DesktopPortal>(new DesktopPortal(context, connection));
}

DesktopPortal::DesktopPortal(GMainContext* context, GDBusConnection* connection)
    : context_(context), connection_(connection) {
  // The portal names a request's object after the caller's unique name,
  // its dot-free form: ":1.42" becomes "1_42".
  const char* unique = g_dbus_connection_get_unique_name(connection_);
  sender_ = unique && unique[0] == ':' ? unique + 1 : (unique ? unique : "");
  for (char& c : sender_) {
    if (c == '.') c = '_';
  }
}

DesktopPortal::~DesktopPortal() { closePrivateSessionBus(context_, connection_); }

std::string DesktopPortal::newToken() {
  static std::mt19937 random{std::random_device{}()};
  char text[48];
  std::snprintf(text, sizeof(text), "dravel_%u_%08x", ++serial_, static_cast<unsigned>(random()));
  return text;
}

DesktopPortal::Wait DesktopPortal::waitFor(const std::function<bool()>& done,
                                           std::chrono::milliseconds limit,
                                           const std::function<bool()>& cancelled) {
  GSource* tick = g_timeout_source_new(kTickMs);
  g_source_set_callback(
      tick, +[](gpointer) -> gboolean { return G_SOURCE_CONTINUE; }, nullptr, nullptr);
  g_source_attach(tick, context_);
  const gint64 deadline = g_get_monotonic_time() + gint64{limit.count()} * 1000;
  Wait outcome = Wait::kDone;
  while (!done()) {
    if (cancelled && cancelled()) {
      outcome = Wait::kCancelled;
      break;
    }
    if (g_get_monotonic_time() >= deadline) {
      outcome = Wait::kTimedOut;
      break;
    }
    g_main_context_iteration(context_, TRUE);
  }
  g_source_destroy(tick);
  g_source_unref(tick);
  return outcome;
}

GVariantPtr DesktopPortal::call(const char* interface, const char* method, GVariant* parameters,
                                const char* replyType, GUnixFDList** fds, std::string* why) {
  ThreadDefaultContext scope(context_);
  auto pending = std::make_shared<PendingCall>();
  GCancellable* cancellable = g_cancellable_new();
  g_dbus_connection_call_with_unix_fd_list(
      connection_, kService, kPath, interface, method, parameters,
      replyType ? G_VARIANT_TYPE(replyType) : nullptr, G_DBUS_CALL_FLAGS_NONE,
      static_cast<int>(kCallTimeout.count()), nullptr, cancellable, onCallDone,
      new std::shared_ptr<PendingCall>(pending));
  // The bus's own timeout ends the call; a margin over it only guards.
  waitFor([&] { return pending->done; }, kCallTimeout + std::chrono::seconds(1), nullptr);
  if (!pending->done) {
    g_cancellable_cancel(cancellable);
    waitFor([&] { return pending->done; }, std::chrono::seconds(1), nullptr);
  }
  g_object_unref(cancellable);
  if (!pending->reply) {
    if (why) *why = std::string(method) + " failed: " + busErrorText(pending->error);
    return nullptr;
  }
  if (fds) {
    *fds = pending->fds;
    pending->fds = nullptr;
  }
  GVariantPtr reply(pending->reply);
  pending->reply = nullptr;
  return reply;
}

GVariantPtr DesktopPortal::property(const char* interface, const char* name, std::string* why) {
  std::string failure;
  GVariantPtr reply = call("org.freedesktop.DBus.Properties", "Get",
                           g_variant_new("(ss)", interface, name), "(v)", nullptr, &failure);
  if (!reply) {
    if (why) *why = "the desktop portal offers no " + std::string(interface) + " (" + failure + ")";
    return nullptr;
  }
  GVariant* value = nullptr;
  g_variant_get(reply.get(), "(v)", &value);
  return GVariantPtr(value);
}

DesktopPortal::Answer DesktopPortal::request(
    const char* interface, const char* method, const std::string& what,
    const std::function<GVariant*(const char* handleToken)>& parameters,
    const std::function<bool()>& cancelled) {
  ThreadDefaultContext scope(context_);
  Answer answer;
  const std::string token = newToken();
  const std::string handle = std::string(kPath) + "/request/" + sender_ + "/" + token;
  // Subscribed before the call, so that no answer can come first.
  PendingResponse response;
  const guint subscription = g_dbus_connection_signal_subscribe(
      connection_, kService, "org.freedesktop.portal.Request", "Response", handle.c_str(),
      nullptr, G_DBUS_SIGNAL_FLAGS_NONE, onResponse, &response, nullptr);
  const std::chrono::milliseconds limit = portalTimeout();
  ++waiting_;

  std::string failure;
  GVariantPtr reply = call(interface, method, parameters(token.c_str()), "(o)", nullptr, &failure);
  std::string path = handle;
  Wait wait = Wait::kDone;
  if (!reply) {
    answer.outcome = Answer::Outcome::kFailed;
    answer.error = "the desktop portal's " + what + " failed: " + failure;
  } else {
    const gchar* returned = nullptr;
    g_variant_get(reply.get(), "(&o)", &returned);
    // A portal older than handle tokens names the object itself.
    if (returned && handle != returned) path = returned;
    wait = waitFor([&] { return response.done; }, limit, cancelled);
  }
  --waiting_;
  g_dbus_connection_signal_unsubscribe(connection_, subscription);

  if (!reply) return answer;
  if (wait != Wait::kDone) {
    // Takes the dialog down, if there is one; its answer is not awaited.
    g_dbus_connection_call(connection_, kService, path.c_str(), "org.freedesktop.portal.Request",
                           "Close", nullptr, nullptr, G_DBUS_CALL_FLAGS_NONE, 2000, nullptr,
                           nullptr, nullptr);
    g_dbus_connection_flush_sync(connection_, nullptr, nullptr);
    if (wait == Wait::kCancelled) {
      answer.outcome = Answer::Outcome::kCancelled;
      answer.error = "The capture was cancelled.";
    } else {
      answer.outcome = Answer::Outcome::kTimedOut;
      answer.error = "the desktop portal did not answer the " + what + " within " +
                     std::to_string(limit.count()) + " ms";
      NSLog("[capture] %s; the request was abandoned", answer.error.c_str());
    }
    return answer;
  }
  answer.outcome = Answer::Outcome::kAnswered;
  answer.response = response.code;
  answer.results.reset(response.results);
  response.results = nullptr;
  if (response.code == 1) {
    answer.error = "the " + what + " was refused";
  } else if (response.code != 0) {
    answer.error = "the desktop portal could not do the " + what;
  }
  return answer;
}

void DesktopPortal::closeSession(const std::string& sessionHandle) {
  if (sessionHandle.empty()) return;
  ThreadDefaultContext scope(context_);
  g_dbus_connection_call(connection_, kService, sessionHandle.c_str(),
                         "org.freedesktop.portal.Session", "Close", nullptr, nullptr,
                         G_DBUS_CALL_FLAGS_NONE, 2000, nullptr, nullptr, nullptr);
  g_dbus_connection_flush_sync(connection_, nullptr, nullptr);
}

}  // namespace dravel::linux_platform
