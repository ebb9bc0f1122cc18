// The host's binary messenger on the Flutter Linux embedding's own
// (FlBinaryMessenger), for the host inside the interface's process. This
// unit is the only one that meets the embedding's API: the channel bytes
// pass through as they are, since the host's codec speaks the embedding's
// wire format, and everything runs on the main context the engine runs on.
//
// Answers. Each message is answered exactly once through the embedding's
// response handle, which the answer holds (a reference of its own) until it
// is sent. A message the host lets go without answering is answered with an
// empty reply, which the interface reads as "not implemented"; a second
// answer is logged and dropped.
//
// Lifetimes. A handler lives as long as the embedding's messenger keeps it:
// replaced, removed, or dropped when the engine goes (its destroy
// notification), it goes, and with it its share of the owner named by
// keepAliveWithHandlers. The adapter holds its own reference to the
// messenger.
#pragma once

#include <map>
#include <memory>
#include <string>

#include "channels/binary_messenger.h"

typedef struct _FlBinaryMessenger FlBinaryMessenger;
typedef struct _FlPluginRegistrar FlPluginRegistrar;
typedef struct _GtkWidget GtkWidget;

namespace dravel::flutter_linux {

class FlutterLinuxMessenger : public FlutterBinaryMessenger {
 public:
  explicit FlutterLinuxMessenger(FlBinaryMessenger* messenger);
  ~FlutterLinuxMessenger() override;
  FlutterLinuxMessenger(const FlutterLinuxMessenger&) = delete;
  FlutterLinuxMessenger& operator=(const FlutterLinuxMessenger&) = delete;

  // Through the embedding's send with reply; the reply is empty when the
  // interface has no handler or the send failed (logged).
  void sendOnChannel(const std::string& channel, Message message,
                     FlutterBinaryReply reply = nullptr) override;
  void setMessageHandlerOnChannel(const std::string& channel,
                                  FlutterBinaryMessageHandler handler) override;

  // Every handler set from now on holds a share of `owner` until the
  // embedding lets the handler go.
  void keepAliveWithHandlers(std::weak_ptr<void> owner) { owner_ = std::move(owner); }

  struct Slot;

 private:
  friend struct Slot;
  FlBinaryMessenger* messenger_;
  // The handler set on each channel and not let go since.
  std::map<std::string, Slot*> slots_;
  std::weak_ptr<void> owner_;
  // Expires with the adapter: a reply arriving later goes to nobody.
  std::shared_ptr<bool> alive_ = std::make_shared<bool>(true);
};

// What a plugin takes from its registrar, which goes right after the
// registration: the messenger, and the interface's view (a reference of the
// caller's own; null when the engine runs without a view).
struct RegistrarParts {
  std::shared_ptr<FlutterLinuxMessenger> messenger;
  GtkWidget* view = nullptr;
};
RegistrarParts partsOf(FlPluginRegistrar* registrar);

}  // namespace dravel::flutter_linux
