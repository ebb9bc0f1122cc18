// A test client that gives a Wayland seat without input devices a pointer
// and puts it somewhere (wlroots compositors):
//
//   dravel_virtual_pointer X Y WIDTH HEIGHT
//
// The pointer goes to X, Y of a WIDTH x HEIGHT frame spanning the
// compositor's whole layout (logical pixels); it prints "ready" once the
// compositor has it, and stays (the pointer goes with the client) until it
// is ended.
#include <unistd.h>
#include <wayland-client.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "wayland/wlr-virtual-pointer-unstable-v1-client-protocol.h"

namespace {

zwlr_virtual_pointer_manager_v1* manager = nullptr;
wl_seat* seat = nullptr;

void global(void*, wl_registry* registry, uint32_t name, const char* interface, uint32_t) {
  if (std::strcmp(interface, zwlr_virtual_pointer_manager_v1_interface.name) == 0) {
    manager = static_cast<zwlr_virtual_pointer_manager_v1*>(
        wl_registry_bind(registry, name, &zwlr_virtual_pointer_manager_v1_interface, 1));
  } else if (std::strcmp(interface, wl_seat_interface.name) == 0 && !seat) {
    seat = static_cast<wl_seat*>(wl_registry_bind(registry, name, &wl_seat_interface, 1));
  }
}
constexpr wl_registry_listener kRegistry = {global, [](void*, wl_registry*, uint32_t) {}};

}  // namespace

int main(int argc, char** argv) {
  if (argc != 5) {
    std::fprintf(stderr, "usage: dravel_virtual_pointer X Y WIDTH HEIGHT\n");
    return 2;
  }
  wl_display* display = wl_display_connect(nullptr);
  if (!display) {
    std::fprintf(stderr, "dravel_virtual_pointer: no compositor\n");
    return 1;
  }
  wl_registry* registry = wl_display_get_registry(display);
  wl_registry_add_listener(registry, &kRegistry, nullptr);
  wl_display_roundtrip(display);
  if (!manager) {
    std::fprintf(stderr, "dravel_virtual_pointer: no virtual pointer manager\n");
    return 1;
  }
  zwlr_virtual_pointer_v1* pointer =
      zwlr_virtual_pointer_manager_v1_create_virtual_pointer(manager, seat);
  auto number = [&](int i) { return static_cast<uint32_t>(std::strtoul(argv[i], nullptr, 10)); };
  zwlr_virtual_pointer_v1_motion_absolute(pointer, 0, number(1), number(2), number(3), number(4));
  zwlr_virtual_pointer_v1_frame(pointer);
  wl_display_roundtrip(display);
  std::printf("ready\n");
  std::fflush(stdout);
  while (wl_display_dispatch(display) != -1) {
  }
  return 0;
}
