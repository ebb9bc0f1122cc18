#include "platform/linux/wayland/wayland_data_control.h"

#include <errno.h>
#include <glib-unix.h>
#include <glib.h>
#include <unistd.h>
#include <wayland-client.h>

#include <cstring>
#include <optional>
#include <string>
#include <thread>

#include "channels/log.h"
#include "wayland/wlr-data-control-unstable-v1-client-protocol.h"

namespace dravel::linux_platform {
namespace {

// Writes all of `size` bytes to the reader's pipe and closes it; a reader
// that goes away early ends the write (SIGPIPE is ignored by the host).
void writeAndClose(int fd, const uint8_t* data, size_t size) {
  size_t written = 0;
  while (written < size) {
    const ssize_t n = ::write(fd, data + written, size - written);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) break;
    written += static_cast<size_t>(n);
  }
  ::close(fd);
}

}  // namespace

struct WaylandDataControl::State {
  wl_display* display = nullptr;
  wl_registry* registry = nullptr;
  zwlr_data_control_manager_v1* manager = nullptr;
  wl_seat* seat = nullptr;
  zwlr_data_control_device_v1* device = nullptr;
  guint watch = 0;
  bool broken = false;

  // The selection the host offers now.
  struct Source {
    zwlr_data_control_source_v1* proxy = nullptr;
    std::shared_ptr<const std::vector<PasteboardItem>> items;
    std::vector<std::string> mimeTypes;
    std::function<void()> lost;
  };
  std::unique_ptr<Source> current;

  ~State() {
    if (watch) g_source_remove(watch);
    dropSource();
    if (device) zwlr_data_control_device_v1_destroy(device);
    if (manager) zwlr_data_control_manager_v1_destroy(manager);
    if (seat) wl_seat_destroy(seat);
    if (registry) wl_registry_destroy(registry);
    if (display) wl_display_disconnect(display);
  }

  void dropSource() {
    if (!current) return;
    zwlr_data_control_source_v1_destroy(current->proxy);
    current.reset();
  }

  void flush() {
    if (display && !broken) wl_display_flush(display);
  }

  static void global(void* data, wl_registry* registry, uint32_t name, const char* interface,
                     uint32_t version) {
    auto* self = static_cast<State*>(data);
    if (std::strcmp(interface, zwlr_data_control_manager_v1_interface.name) == 0 &&
        !self->manager) {
      self->manager = static_cast<zwlr_data_control_manager_v1*>(
          wl_registry_bind(registry, name, &zwlr_data_control_manager_v1_interface, 1));
    } else if (std::strcmp(interface, wl_seat_interface.name) == 0 && !self->seat) {
      self->seat = static_cast<wl_seat*>(
          wl_registry_bind(registry, name, &wl_seat_interface, std::min<uint32_t>(version, 2)));
    }
  }
  static constexpr wl_registry_listener kRegistry = {global, [](void*, wl_registry*, uint32_t) {}};

  // Offers of other clients' selections: the host reads none.
  static constexpr zwlr_data_control_offer_v1_listener kOffer = {
      [](void*, zwlr_data_control_offer_v1*, const char*) {}};
  static void selection(void*, zwlr_data_control_device_v1*, zwlr_data_control_offer_v1* offer) {
    if (offer) zwlr_data_control_offer_v1_destroy(offer);
  }
  // A member function, not a lambda in the listener below: only a function's
  // body sees the whole of State (clang holds to that).
  static void finished(void* data, zwlr_data_control_device_v1*) {
    // The seat went: no more selections through it.
    auto* self = static_cast<State*>(data);
    self->dropSource();
    zwlr_data_control_device_v1_destroy(self->device);
    self->device = nullptr;
  }
  static constexpr zwlr_data_control_device_v1_listener kDevice = {
      [](void*, zwlr_data_control_device_v1*, zwlr_data_control_offer_v1* offer) {
        zwlr_data_control_offer_v1_add_listener(offer, &kOffer, nullptr);
      },
      selection, finished, selection};

  static void send(void* data, zwlr_data_control_source_v1* proxy, const char* mimeType,
                   int32_t fd) {
    auto* self = static_cast<State*>(data);
    const Source* source = self->current.get();
    if (!source || source->proxy != proxy || source->items->empty()) {
      ::close(fd);
      return;
    }
    const std::vector<std::string> types = source->items->front().types();
    std::optional<std::string> type;
    for (size_t i = 0; i < types.size() && i < source->mimeTypes.size(); ++i) {
      if (source->mimeTypes[i] == mimeType) type = types[i];
    }
    if (!type) {
      ::close(fd);
      return;
    }
    // The items stay alive with the thread: what it writes is theirs. A
    // promised type (the TIFF of a copied image) is made there too, so the
    // reader waits for it and the main thread does not.
    std::thread([items = source->items, type = std::move(*type), mime = std::string(mimeType), fd] {
      const ByteBuffer* bytes = items->front().dataForType(type);
      if (!bytes) {
        NSLog("[clipboard] could not make %s for a reader", mime.c_str());
        ::close(fd);
        return;
      }
      writeAndClose(fd, bytes->data(), bytes->size());
    }).detach();
  }
  static void cancelled(void* data, zwlr_data_control_source_v1* proxy) {
    auto* self = static_cast<State*>(data);
    if (!self->current || self->current->proxy != proxy) return;
    std::function<void()> lost = std::move(self->current->lost);
    self->dropSource();
    if (lost) lost();
  }
  static constexpr zwlr_data_control_source_v1_listener kSource = {send, cancelled};
};

WaylandDataControl::WaylandDataControl(std::unique_ptr<State> state) : state_(std::move(state)) {}

WaylandDataControl::~WaylandDataControl() {
  if (state_) state_->flush();
}

std::unique_ptr<WaylandDataControl> WaylandDataControl::connect(std::string* why) {
  auto state = std::make_unique<State>();
  state->display = wl_display_connect(nullptr);
  if (!state->display) {
    if (why) *why = "cannot connect to the compositor";
    return nullptr;
  }
  state->registry = wl_display_get_registry(state->display);
  wl_registry_add_listener(state->registry, &State::kRegistry, state.get());
  wl_display_roundtrip(state->display);
  if (!state->manager || !state->seat) {
    if (why) *why = state->manager ? "the compositor has no seat" : "no data control offered";
    return nullptr;
  }
  state->device = zwlr_data_control_manager_v1_get_data_device(state->manager, state->seat);
  zwlr_data_control_device_v1_add_listener(state->device, &State::kDevice, state.get());
  wl_display_roundtrip(state->display);
  State* raw = state.get();
  state->watch = g_unix_fd_add(
      wl_display_get_fd(state->display), static_cast<GIOCondition>(G_IO_IN | G_IO_HUP | G_IO_ERR),
      [](gint, GIOCondition condition, gpointer data) -> gboolean {
        auto* self = static_cast<State*>(data);
        if ((condition & (G_IO_HUP | G_IO_ERR)) || wl_display_dispatch(self->display) < 0) {
          // The compositor went; the toolkit's own connection ends the
          // host.
          self->broken = true;
          self->watch = 0;
          return G_SOURCE_REMOVE;
        }
        self->flush();
        return G_SOURCE_CONTINUE;
      },
      raw);
  return std::unique_ptr<WaylandDataControl>(new WaylandDataControl(std::move(state)));
}

bool WaylandDataControl::own(std::shared_ptr<const std::vector<PasteboardItem>> items,
                             std::vector<std::string> mimeTypes, std::function<void()> lost) {
  State& s = *state_;
  if (s.broken || !s.device) return false;
  auto source = std::make_unique<State::Source>();
  source->proxy = zwlr_data_control_manager_v1_create_data_source(s.manager);
  zwlr_data_control_source_v1_add_listener(source->proxy, &State::kSource, &s);
  for (const std::string& mime : mimeTypes) {
    zwlr_data_control_source_v1_offer(source->proxy, mime.c_str());
  }
  source->items = std::move(items);
  source->mimeTypes = std::move(mimeTypes);
  source->lost = std::move(lost);
  zwlr_data_control_device_v1_set_selection(s.device, source->proxy);
  // The earlier source, replaced by the host itself, is not lost to
  // another program.
  s.dropSource();
  s.current = std::move(source);
  s.flush();
  return true;
}

void WaylandDataControl::release() {
  State& s = *state_;
  if (!s.current) return;
  if (s.device && !s.broken) zwlr_data_control_device_v1_set_selection(s.device, nullptr);
  s.dropSource();
  s.flush();
}

}  // namespace dravel::linux_platform
