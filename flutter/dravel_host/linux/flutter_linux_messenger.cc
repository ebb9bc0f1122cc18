#include "flutter_linux_messenger.h"

#include <flutter_linux/flutter_linux.h>

#include <span>
#include <vector>

#include "channels/log.h"

namespace dravel::flutter_linux {

struct FlutterLinuxMessenger::Slot {
  FlutterLinuxMessenger* adapter;
  std::string channel;
  FlutterBinaryMessageHandler handler;
  std::shared_ptr<void> owner;
};

namespace {

void releaseVector(gpointer data) {
  delete static_cast<std::vector<uint8_t>*>(data);
}

void releaseOwner(gpointer data) {
  delete static_cast<std::shared_ptr<const void>*>(data);
}

// The message as the embedding's bytes, null when empty. A message of one
// piece is lent as it lies (kept alive by its owner); others are joined once.
GBytes* bytesOf(Message message) {
  if (message.empty()) return nullptr;
  if (message.pieces().size() == 1 && message.pieces()[0].owner) {
    const Message::Piece& piece = message.pieces()[0];
    return g_bytes_new_with_free_func(piece.data, piece.size, releaseOwner,
                                      new std::shared_ptr<const void>(piece.owner));
  }
  auto* joined = new std::vector<uint8_t>(message.flatten());
  return g_bytes_new_with_free_func(joined->data(), joined->size(), releaseVector, joined);
}

// One message's answer: sent once, or empty when the host lets it go.
class Answer {
 public:
  Answer(FlBinaryMessenger* messenger, FlBinaryMessengerResponseHandle* handle, std::string channel)
      : messenger_(static_cast<FlBinaryMessenger*>(g_object_ref(messenger))),
        handle_(static_cast<FlBinaryMessengerResponseHandle*>(g_object_ref(handle))),
        channel_(std::move(channel)) {}
  ~Answer() {
    if (!sent_) send(Message());
    g_object_unref(handle_);
    g_object_unref(messenger_);
  }
  Answer(const Answer&) = delete;
  Answer& operator=(const Answer&) = delete;

  void send(Message reply) {
    if (sent_) {
      NSLog("[channels] a second answer to a message on %s was dropped", channel_.c_str());
      return;
    }
    sent_ = true;
    GBytes* bytes = bytesOf(std::move(reply));
    GError* error = nullptr;
    if (!fl_binary_messenger_send_response(messenger_, handle_, bytes, &error)) {
      NSLog("[channels] the answer to a message on %s could not be sent: %s", channel_.c_str(),
            error ? error->message : "no reason given");
    }
    if (error) g_error_free(error);
    if (bytes) g_bytes_unref(bytes);
  }

 private:
  FlBinaryMessenger* messenger_;
  FlBinaryMessengerResponseHandle* handle_;
  std::string channel_;
  bool sent_ = false;
};

void onMessage(FlBinaryMessenger* messenger, const gchar* channel, GBytes* message,
               FlBinaryMessengerResponseHandle* handle, gpointer data) {
  // A copy: the handler may replace itself while it runs.
  const FlutterBinaryMessageHandler handler =
      static_cast<FlutterLinuxMessenger::Slot*>(data)->handler;
  auto answer = std::make_shared<Answer>(messenger, handle, channel);
  gsize size = 0;
  const auto* bytes =
      message ? static_cast<const uint8_t*>(g_bytes_get_data(message, &size)) : nullptr;
  handler(std::span<const uint8_t>(bytes, size),
          [answer](Message reply) { answer->send(std::move(reply)); });
}

struct PendingSend {
  FlutterBinaryReply reply;
  std::weak_ptr<bool> alive;
  std::string channel;
};

void onSendReply(GObject* source, GAsyncResult* result, gpointer data) {
  std::unique_ptr<PendingSend> pending(static_cast<PendingSend*>(data));
  GError* error = nullptr;
  GBytes* bytes = fl_binary_messenger_send_on_channel_finish(
      reinterpret_cast<FlBinaryMessenger*>(source), result, &error);
  std::vector<uint8_t> reply;
  if (bytes) {
    gsize size = 0;
    const auto* start = static_cast<const uint8_t*>(g_bytes_get_data(bytes, &size));
    if (size) reply.assign(start, start + size);
    g_bytes_unref(bytes);
  } else {
    NSLog("[channels] a message to the interface on %s failed: %s", pending->channel.c_str(),
          error ? error->message : "no reason given");
  }
  if (error) g_error_free(error);
  if (!pending->alive.expired()) {
    pending->reply(reply.empty() ? Message() : Message(std::move(reply)));
  }
}

}  // namespace

FlutterLinuxMessenger::FlutterLinuxMessenger(FlBinaryMessenger* messenger)
    : messenger_(static_cast<FlBinaryMessenger*>(g_object_ref(messenger))) {}

FlutterLinuxMessenger::~FlutterLinuxMessenger() {
  // Taken out first: the messenger's destroy notifications find nothing.
  std::map<std::string, Slot*> slots;
  slots.swap(slots_);
  for (auto& [channel, slot] : slots) {
    slot->adapter = nullptr;
    fl_binary_messenger_set_message_handler_on_channel(messenger_, channel.c_str(), nullptr,
                                                       nullptr, nullptr);
  }
  g_object_unref(messenger_);
}

void FlutterLinuxMessenger::sendOnChannel(const std::string& channel, Message message,
                                          FlutterBinaryReply reply) {
  GBytes* bytes = bytesOf(std::move(message));
  if (reply) {
    fl_binary_messenger_send_on_channel(messenger_, channel.c_str(), bytes, nullptr, onSendReply,
                                        new PendingSend{std::move(reply), alive_, channel});
  } else {
    fl_binary_messenger_send_on_channel(messenger_, channel.c_str(), bytes, nullptr, nullptr,
                                        nullptr);
  }
  if (bytes) g_bytes_unref(bytes);
}

void FlutterLinuxMessenger::setMessageHandlerOnChannel(const std::string& channel,
                                                       FlutterBinaryMessageHandler handler) {
  if (!handler) {
    // A channel the messenger already let go is not its own to clear.
    if (slots_.erase(channel) == 0) return;
    fl_binary_messenger_set_message_handler_on_channel(messenger_, channel.c_str(), nullptr,
                                                       nullptr, nullptr);
    return;
  }
  auto* slot = new Slot{this, channel, std::move(handler), owner_.lock()};
  // Recorded first: the destroy notification of the handler it replaces
  // finds this one in place and leaves it.
  slots_[channel] = slot;
  fl_binary_messenger_set_message_handler_on_channel(
      messenger_, channel.c_str(), onMessage, slot, +[](gpointer data) {
        auto* gone = static_cast<Slot*>(data);
        if (gone->adapter) {
          auto it = gone->adapter->slots_.find(gone->channel);
          if (it != gone->adapter->slots_.end() && it->second == gone) {
            gone->adapter->slots_.erase(it);
          }
        }
        // The owner's last share may go here, the adapter with it.
        std::shared_ptr<void> owner = std::move(gone->owner);
        delete gone;
      });
}

RegistrarParts partsOf(FlPluginRegistrar* registrar) {
  RegistrarParts parts;
  parts.messenger =
      std::make_shared<FlutterLinuxMessenger>(fl_plugin_registrar_get_messenger(registrar));
  if (FlView* view = fl_plugin_registrar_get_view(registrar)) {
    parts.view = GTK_WIDGET(g_object_ref(view));
  }
  return parts;
}

}  // namespace dravel::flutter_linux
