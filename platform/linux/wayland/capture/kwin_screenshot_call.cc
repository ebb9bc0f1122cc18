#include "platform/linux/wayland/capture/kwin_screenshot_call.h"

#include <glib-unix.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>

#include "platform/linux/session/private_bus.h"

namespace dravel::linux_platform {
namespace {

// How often a pending call looks at `cancelled`.
constexpr unsigned kTickMs = 50;
constexpr size_t kReadChunk = 256 * 1024;

void onReply(GObject* source, GAsyncResult* result, gpointer data) {
  std::unique_ptr<std::shared_ptr<PendingReply>> holder(
      static_cast<std::shared_ptr<PendingReply>*>(data));
  PendingReply& pending = **holder;
  pending.reply = g_dbus_connection_call_with_unix_fd_list_finish(G_DBUS_CONNECTION(source),
                                                                  nullptr, result, &pending.error);
  pending.done = true;
}

gboolean onPipe(gint, GIOCondition, gpointer data) {
  return static_cast<PipeReader*>(data)->readAvailable() ? G_SOURCE_CONTINUE : G_SOURCE_REMOVE;
}

gboolean onTick(gpointer) {
  return G_SOURCE_CONTINUE;
}

}  // namespace

bool PipeReader::readAvailable() {
  for (;;) {
    if (bytes.size() >= limit) {
      uint8_t extra = 0;
      const ssize_t n = read(fd, &extra, 1);
      if (n > 0) {
        overflow = true;
        return false;
      }
      if (n == 0) return finish();
      if (errno == EINTR) continue;
      if (errno == EAGAIN || errno == EWOULDBLOCK) return true;
      readError = errno;
      return false;
    }
    const size_t old = bytes.size();
    const size_t chunk = static_cast<size_t>(std::min<uint64_t>(kReadChunk, limit - old));
    bytes.resize(old + chunk);
    const ssize_t n = read(fd, bytes.data() + old, chunk);
    if (n < 0) {
      bytes.resize(old);
      if (errno == EINTR) continue;
      if (errno == EAGAIN || errno == EWOULDBLOCK) return true;
      readError = errno;
      return false;
    }
    bytes.resize(old + static_cast<size_t>(n));
    if (n == 0) return finish();
  }
}

bool PipeReader::finish() {
  ended = true;
  return false;
}

bool remoteErrorIs(const GError* error, const char* name) {
  if (!error || !g_dbus_error_is_remote_error(error)) return false;
  gchar* remote = g_dbus_error_get_remote_error(error);
  const bool same = remote && std::strcmp(remote, name) == 0;
  g_free(remote);
  return same;
}

bool interfaceGone(const GError* error) {
  return g_error_matches(error, G_DBUS_ERROR, G_DBUS_ERROR_SERVICE_UNKNOWN) ||
         g_error_matches(error, G_DBUS_ERROR, G_DBUS_ERROR_NAME_HAS_NO_OWNER) ||
         g_error_matches(error, G_DBUS_ERROR, G_DBUS_ERROR_UNKNOWN_METHOD) ||
         g_error_matches(error, G_DBUS_ERROR, G_DBUS_ERROR_UNKNOWN_OBJECT) ||
         g_error_matches(error, G_DBUS_ERROR, G_DBUS_ERROR_UNKNOWN_INTERFACE) ||
         g_error_matches(error, G_IO_ERROR, G_IO_ERROR_CLOSED);
}

CallOutcome callKWin(GMainContext* context, GDBusConnection* connection, const char* path,
                     const char* interface, const char* method, GVariant* parameters,
                     GUnixFDList* fds, PipeReader* reader, const std::function<bool()>& cancelled,
                     const std::function<bool(GVariant*)>& accept) {
  CallOutcome outcome;
  outcome.answer = std::make_shared<PendingReply>();
  GCancellable* cancellable = g_cancellable_new();
  g_dbus_connection_call_with_unix_fd_list(connection, kKWinService, path, interface, method,
                                           parameters, nullptr, G_DBUS_CALL_FLAGS_NO_AUTO_START,
                                           kKWinCallTimeoutMs, fds, cancellable, onReply,
                                           new std::shared_ptr<PendingReply>(outcome.answer));
  // The message holds what it sends; the pipe's end comes only once no
  // copy of its writing end is left here.
  if (fds) g_object_unref(fds);

  GSource* tick = g_timeout_source_new(kTickMs);
  g_source_set_callback(tick, onTick, nullptr, nullptr);
  g_source_attach(tick, context);
  GSource* pipeSource = nullptr;
  if (reader) {
    pipeSource =
        g_unix_fd_source_new(reader->fd, static_cast<GIOCondition>(G_IO_IN | G_IO_HUP | G_IO_ERR));
    g_source_set_callback(pipeSource, G_SOURCE_FUNC(onPipe), reader, nullptr);
    g_source_attach(pipeSource, context);
  }

  const gint64 deadline = g_get_monotonic_time() + gint64{kKWinCallTimeoutMs} * 1000;
  bool accepted = false;
  for (;;) {
    const PendingReply& answer = *outcome.answer;
    if (answer.done) {
      if (answer.error || !answer.reply) break;
      if (!accepted) {
        accepted = true;
        if (accept && !accept(answer.reply)) break;
      }
      if (!reader || reader->ended || reader->overflow || reader->readError) break;
    } else if (reader && (reader->overflow || reader->readError)) {
      break;
    }
    if (cancelled()) {
      outcome.cancelled = true;
      break;
    }
    if (g_get_monotonic_time() >= deadline) {
      outcome.timedOut = true;
      break;
    }
    g_main_context_iteration(context, TRUE);
  }

  if (pipeSource) {
    g_source_destroy(pipeSource);
    g_source_unref(pipeSource);
  }
  if (!outcome.answer->done) {
    // The cancelled call answers on this context at once.
    g_cancellable_cancel(cancellable);
    const gint64 limit = g_get_monotonic_time() + 1000 * 1000;
    while (!outcome.answer->done && g_get_monotonic_time() < limit) {
      g_main_context_iteration(context, TRUE);
    }
  }
  g_source_destroy(tick);
  g_source_unref(tick);
  g_object_unref(cancellable);
  return outcome;
}

VariantPtr callSync(GDBusConnection* connection, const char* service, const char* path,
                    const char* interface, const char* method, GVariant* parameters,
                    const char* replyType, std::string* why) {
  GError* error = nullptr;
  GVariant* reply = g_dbus_connection_call_sync(
      connection, service, path, interface, method, parameters, G_VARIANT_TYPE(replyType),
      G_DBUS_CALL_FLAGS_NO_AUTO_START, kKWinCallTimeoutMs, nullptr, &error);
  if (!reply) {
    if (why) *why = std::string(method) + " on the session bus failed: " + busErrorText(error);
    g_clear_error(&error);
  }
  return VariantPtr(reply);
}

}  // namespace dravel::linux_platform
