// The capture routes over the desktop portal, for GNOME and every session
// without a compositor interface of its own (and inside a sandbox).
//
// The ScreenCast route asks the portal for a screen-cast session of the
// monitors (cursor left out where the portal can, persist_mode 2, so that
// the desktop remembers the choice) and reads each monitor's frames from
// PipeWire. The desktop's dialog appears once; the restore token the portal
// answers is stored (restore_token_store.h) and sent with the next session,
// which then starts without asking, in this launch and later ones. A screen
// cast sends a frame only when the screen changes, so the session stays open
// while captures come, each answered with its stream's latest frame, and is
// closed once no capture came for a short while.
//
// The Screenshot route is for a portal without ScreenCast: a non-interactive
// Screenshot of the whole layout, its PNG decoded with the bounded decoder,
// the monitor cut out of it by the layout, the file removed.
#pragma once

#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "platform/shared/image_codec.h"
#include "platform/linux/wayland/capture/capture_route.h"
#include "platform/linux/wayland/capture/desktop_portal.h"

namespace dravel::linux_platform {

// One stream of a started screen cast, as the Start answer lists it.
struct CastStream {
  uint32_t node = 0;
  // Where the portal says the stream's monitor lies, and its size, where it
  // says so (not every portal's position is a layout: xdpw answers 0,0).
  std::optional<std::pair<int64_t, int64_t>> position;
  std::optional<std::pair<int64_t, int64_t>> size;
};

// The stream that shows `monitor`: the one whose position and size are the
// monitor's; else the only one whose size is the monitor's (logical or
// native); else the only stream when the layout has only one monitor.
// Null when none is sure.
std::optional<size_t> streamForMonitor(const RouteMonitor& monitor, const RouteLayout& layout,
                                       const std::vector<CastStream>& streams);

// `monitor` cut out of a screenshot of the whole `layout`. Portals draw the
// layout in one of two ways, told apart by the image's size: every monitor
// at the largest scale over the logical layout (wlroots), or every monitor
// at its native pixels laid out in device pixels (mutter). The result is at
// the monitor's native size; an image of neither size gives null and
// `error`.
CapturedImagePtr monitorFromLayoutImage(const DecodedImage& image, const RouteMonitor& monitor,
                                        const RouteLayout& layout, std::string* error);

// The portal's non-interactive Screenshot of the whole layout; its results
// hold the file's "uri", which the caller removes.
DesktopPortal::Answer requestScreenshot(DesktopPortal& portal,
                                        const std::function<bool()>& cancelled);

// The routes, or null (saying why) when the session's portal lacks the
// interface. Run on the capture engine's worker thread.
CaptureRoutePtr makeScreenCastPortalRoute(std::string* why);
CaptureRoutePtr makeScreenshotPortalRoute(std::string* why);

}  // namespace dravel::linux_platform
