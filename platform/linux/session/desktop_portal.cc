#include "platform/linux/session/desktop_portal.h"

#include <atomic>

#include "platform/linux/session/private_bus.h"

namespace dravel::linux_platform {

PortalAnswer::PortalAnswer(PortalAnswer&& other) noexcept
    : error(std::move(other.error)), response(other.response), results(other.results) {
  other.results = nullptr;
}

PortalAnswer::~PortalAnswer() {
  if (results) g_variant_unref(results);
}

bool PortalAnswer::resultFlag(const char* key, bool fallback) const {
  gboolean value = FALSE;
  if (!results || !g_variant_lookup(results, key, "b", &value)) return fallback;
  return value != FALSE;
}

PortalAnswer requestAndWait(const char* interface, const char* method,
                            const std::function<GVariant*(const std::string& token)>& parameters,
                            int timeoutMs) {
  PortalAnswer answer;
  GMainContext* context = g_main_context_new();
  GDBusConnection* bus = connectPrivateSessionBus(context, &answer.error);
  if (!bus) {
    g_main_context_unref(context);
    return answer;
  }
  {
    ThreadDefaultContext scope(context);
    static std::atomic<unsigned> counter{0};
    const std::string token = "dravel" + std::to_string(++counter);
    // The request's path is the caller's unique name without its colon,
    // dots as underscores, then the token.
    std::string sender = g_dbus_connection_get_unique_name(bus) + 1;
    for (char& c : sender)
      if (c == '.') c = '_';
    const std::string handle = std::string(kPortalPath) + "/request/" + sender + "/" + token;

    struct Wait {
      bool answered = false;
      bool timedOut = false;
      PortalAnswer* answer;
    } wait{false, false, &answer};
    const guint subscription = g_dbus_connection_signal_subscribe(
        bus, kPortalService, "org.freedesktop.portal.Request", "Response", handle.c_str(), nullptr,
        G_DBUS_SIGNAL_FLAGS_NONE,
        [](GDBusConnection*, const gchar*, const gchar*, const gchar*, const gchar*,
           GVariant* values, gpointer data) {
          auto* self = static_cast<Wait*>(data);
          if (self->answered || !g_variant_is_of_type(values, G_VARIANT_TYPE("(ua{sv})"))) return;
          self->answered = true;
          g_variant_get(values, "(u@a{sv})", &self->answer->response, &self->answer->results);
        },
        &wait, nullptr);

    const gint64 deadline = g_get_monotonic_time() + static_cast<gint64>(timeoutMs) * 1000;
    GError* error = nullptr;
    GVariant* reply = g_dbus_connection_call_sync(
        bus, kPortalService, kPortalPath, interface, method, parameters(token),
        G_VARIANT_TYPE("(o)"), G_DBUS_CALL_FLAGS_NONE, timeoutMs, nullptr, &error);
    if (!reply) {
      answer.error = busErrorText(error);
      g_clear_error(&error);
    } else {
      g_variant_unref(reply);
      const gint64 left = (deadline - g_get_monotonic_time()) / 1000;
      GSource* timer = g_timeout_source_new(static_cast<guint>(left > 0 ? left : 0));
      g_source_set_callback(
          timer,
          [](gpointer data) {
            static_cast<Wait*>(data)->timedOut = true;
            return G_SOURCE_REMOVE;
          },
          &wait, nullptr);
      g_source_attach(timer, context);
      while (!wait.answered && !wait.timedOut) g_main_context_iteration(context, TRUE);
      g_source_destroy(timer);
      g_source_unref(timer);
      if (!wait.answered) answer.error = "the portal did not answer in time";
    }
    g_dbus_connection_signal_unsubscribe(bus, subscription);
  }
  closePrivateSessionBus(context, bus);
  return answer;
}

}  // namespace dravel::linux_platform
