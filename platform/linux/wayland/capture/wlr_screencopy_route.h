// Capture through the wlroots screencopy protocol (sway and its kin): the
// host binds zwlr_screencopy_manager_v1 on a Wayland connection of its own
// and has the compositor copy one output's pixels into a shared-memory
// buffer. No prompt, no PipeWire, no wait for damage.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>

#include "platform/linux/wayland/capture/capture_route.h"

namespace dravel::linux_platform {

// A route over its own connection to the compositor of WAYLAND_DISPLAY, or
// null (with `why`) when no connection can be made or the compositor offers
// no screencopy manager. Made, used and destroyed on one thread.
CaptureRoutePtr makeScreencopyRoute(std::string* why);

// The byte size of a shared-memory buffer the compositor asks for, or
// nothing when the parameters are unusable: an empty size, a stride short
// of width x 4, or a size that overflows or exceeds what a wl_shm pool holds.
std::optional<size_t> screencopyBufferSize(uint32_t width, uint32_t height, uint32_t stride);

// The image of a copied buffer of `size` bytes in the wl_shm `format`
// (XRGB8888 and ARGB8888 as they are, XBGR8888 and ABGR8888 with red and
// blue swapped; every pixel opaque), top row first (`yInvert`: the buffer's
// rows come bottom first). Null, with `error`, for another format or
// parameters that do not fit the buffer.
CapturedImagePtr screencopyImage(const uint8_t* data, size_t size, uint32_t format, uint32_t width,
                                 uint32_t height, uint32_t stride, bool yInvert,
                                 std::string* error);

}  // namespace dravel::linux_platform
