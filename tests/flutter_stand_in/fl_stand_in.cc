#include "fl_stand_in.h"

#include <map>

using dravel::testing::WireBytes;

namespace {

struct Handler {
  FlBinaryMessengerMessageHandler call;
  gpointer data;
  GDestroyNotify destroy;
};
struct Engine {
  std::map<std::string, Handler> handlers;
  std::map<std::string, std::function<WireBytes(WireBytes)>> interface;
  bool gone = false;
} engine;
FlBinaryMessenger* theMessenger = nullptr;

void letGo(const Handler& handler) {
  if (handler.destroy) handler.destroy(handler.data);
}

WireBytes bytesOf(GBytes* bytes) {
  gsize size = 0;
  const auto* data = bytes ? static_cast<const uint8_t*>(g_bytes_get_data(bytes, &size)) : nullptr;
  return size ? WireBytes(data, data + size) : WireBytes();
}

// Runs `task` on a later turn of the default main context.
void later(std::function<void()> task) {
  g_idle_add_full(
      G_PRIORITY_DEFAULT, [](gpointer f) { return (*static_cast<std::function<void()>*>(f))(), 0; },
      new std::function<void()>(std::move(task)),
      [](gpointer f) { delete static_cast<std::function<void()>*>(f); });
}

}  // namespace

struct _FlBinaryMessenger {
  GObject parent;
};
G_DEFINE_TYPE(FlBinaryMessenger, fl_binary_messenger, G_TYPE_OBJECT)
static void fl_binary_messenger_class_init(FlBinaryMessengerClass*) {}
static void fl_binary_messenger_init(FlBinaryMessenger*) {}

struct _FlBinaryMessengerResponseHandle {
  GObject parent;
  gboolean answered;
  gchar* channel;
  std::function<void(WireBytes)>* reply;
};
G_DEFINE_TYPE(FlBinaryMessengerResponseHandle, fl_binary_messenger_response_handle, G_TYPE_OBJECT)
static void fl_binary_messenger_response_handle_init(FlBinaryMessengerResponseHandle*) {}
static void fl_binary_messenger_response_handle_class_init(
    FlBinaryMessengerResponseHandleClass* type) {
  G_OBJECT_CLASS(type)->finalize = [](GObject* object) {
    auto* self = FL_BINARY_MESSENGER_RESPONSE_HANDLE(object);
    if (!self->answered && !engine.gone) {
      dravel::testing::standInErrors().push_back(
          std::string("FlBinaryMessengerResponseHandle was not responded to: ") + self->channel);
    }
    g_free(self->channel);
    delete self->reply;
    G_OBJECT_CLASS(fl_binary_messenger_response_handle_parent_class)->finalize(object);
  };
}

void fl_binary_messenger_set_message_handler_on_channel(FlBinaryMessenger*, const gchar* channel,
                                                        FlBinaryMessengerMessageHandler handler,
                                                        gpointer user_data,
                                                        GDestroyNotify destroy_notify) {
  if (engine.gone) return letGo({handler, user_data, destroy_notify});
  auto old = engine.handlers.extract(channel);
  if (handler) engine.handlers[channel] = {handler, user_data, destroy_notify};
  if (old) letGo(old.mapped());
}

gboolean fl_binary_messenger_send_response(FlBinaryMessenger*,
                                           FlBinaryMessengerResponseHandle* handle,
                                           GBytes* response, GError** error) {
  if (handle->answered) {
    dravel::testing::standInErrors().push_back(std::string("second answer: ") + handle->channel);
    g_set_error(error, g_quark_from_static_string("fl_binary_messenger_codec_error_quark"), 0,
                "Attempted to respond to a message that is already responded to");
    return FALSE;
  }
  handle->answered = TRUE;
  later([reply = *handle->reply, bytes = bytesOf(response)] { reply(bytes); });
  return TRUE;
}

void fl_binary_messenger_send_on_channel(FlBinaryMessenger* messenger, const gchar* channel,
                                         GBytes* message, GCancellable* cancellable,
                                         GAsyncReadyCallback callback, gpointer user_data) {
  auto it = engine.interface.find(channel);
  auto* reply =
      new WireBytes(it != engine.interface.end() ? it->second(bytesOf(message)) : WireBytes());
  ++dravel::testing::repliesHeld();
  GBytes* bytes = g_bytes_new_with_free_func(
      reply->data(), reply->size(),
      [](gpointer data) {
        delete static_cast<WireBytes*>(data);
        --dravel::testing::repliesHeld();
      },
      reply);
  if (!callback) return g_bytes_unref(bytes);
  GTask* task = g_task_new(messenger, cancellable, callback, user_data);
  g_task_return_pointer(task, bytes, GDestroyNotify(g_bytes_unref));
  g_object_unref(task);
}

GBytes* fl_binary_messenger_send_on_channel_finish(FlBinaryMessenger*, GAsyncResult* result,
                                                   GError** error) {
  return static_cast<GBytes*>(g_task_propagate_pointer(G_TASK(result), error));
}

FlBinaryMessenger* fl_plugin_registrar_get_messenger(FlPluginRegistrar* registrar) {
  return registrar->messenger;
}

FlView* fl_plugin_registrar_get_view(FlPluginRegistrar* registrar) {
  return reinterpret_cast<FlView*>(registrar->view);
}

namespace dravel::testing {

FlBinaryMessenger* startStandInEngine() {
  engine.gone = false;
  engine.interface.clear();
  return theMessenger = FL_BINARY_MESSENGER(g_object_new(fl_binary_messenger_get_type(), nullptr));
}

void sendFromInterface(const std::string& channel, const WireBytes& message,
                       std::function<void(WireBytes)> reply) {
  auto it = engine.handlers.find(channel);
  if (it == engine.handlers.end()) return later([reply] { reply({}); });
  auto* handle = FL_BINARY_MESSENGER_RESPONSE_HANDLE(
      g_object_new(fl_binary_messenger_response_handle_get_type(), nullptr));
  handle->channel = g_strdup(channel.c_str());
  handle->reply = new std::function<void(WireBytes)>(std::move(reply));
  GBytes* bytes = g_bytes_new(message.data(), message.size());
  const Handler handler = it->second;
  handler.call(theMessenger, channel.c_str(), bytes, handle, handler.data);
  g_bytes_unref(bytes);
  g_object_unref(handle);
}

void setInterfaceHandler(const std::string& channel, std::function<WireBytes(WireBytes)> handler) {
  engine.interface[channel] = std::move(handler);
}

void stopStandInEngine() {
  engine.gone = true;
  auto handlers = std::move(engine.handlers);
  engine.handlers.clear();
  for (auto& [channel, handler] : handlers) letGo(handler);
}

bool hasHandler(const std::string& channel) {
  return engine.handlers.count(channel) != 0;
}

std::vector<std::string>& standInErrors() {
  static std::vector<std::string> errors;
  return errors;
}

int& repliesHeld() {
  static int held = 0;
  return held;
}

}  // namespace dravel::testing
