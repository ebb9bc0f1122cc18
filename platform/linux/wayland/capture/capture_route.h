// One way of reading a monitor's pixels on a Wayland session.
//
// Wayland gives ordinary clients no screen pixels. Each compositor family
// offers its own way (the screencopy protocol on wlroots compositors, KWin's
// ScreenShot2 interface, the desktop portal everywhere else), chosen by what
// the session advertises. The Wayland capture engine holds the routes the
// session offers, in order of preference, and runs every capture on its
// worker thread through the first that is usable.
//
// Threads: a route is made, used and destroyed on the engine's worker thread
// only, except for the methods marked "any thread". A route may block the
// worker while it waits for the compositor, the bus or the user, always for
// a bounded time, and polls `cancelled` while it waits.
#pragma once

#include <chrono>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "platform/seam/captured_image.h"

namespace dravel::linux_platform {

// A monitor as the routes see it.
struct RouteMonitor {
  // The host's display id for it.
  uint32_t displayID = 0;
  // Where it lies in the compositor's logical space: logical pixels, the
  // origin at the compositor's (0, 0), y downward.
  int64_t x = 0;
  int64_t y = 0;
  int64_t width = 0;
  int64_t height = 0;
  // The monitor's integer scale: its native pixels are width x scale by
  // height x scale.
  int scale = 1;
  // The output's connector name where the session tells it ("HEADLESS-1",
  // "Virtual-0"), else empty.
  std::string name;
  // The output's make and model as the compositor announces them, else empty.
  std::string manufacturer;
  std::string model;
  // The monitor's position in the toolkit's list of monitors (the
  // compositor's own order), from 0.
  int index = 0;

  bool operator==(const RouteMonitor&) const = default;
};

// Every monitor of the session at the moment of a capture, in the toolkit's
// order.
using RouteLayout = std::vector<RouteMonitor>;

struct RouteResult {
  // The monitor's pixels at its native size (width x scale by height x
  // scale), or null.
  CapturedImagePtr image;
  // Why there is no image: a sentence for the reply's message.
  std::string error;
  // The route cannot serve this session at all (the compositor refused the
  // host, the interface went away): the engine drops it, logs that once, and
  // tries the next route for this capture and all later ones. A failure of
  // one capture (a monitor gone, a timeout) leaves it false.
  bool unusable = false;
};

class CaptureRoute {
 public:
  virtual ~CaptureRoute() = default;

  // A short name for logs and messages ("wlr-screencopy", "KWin ScreenShot2",
  // "the ScreenCast portal", "the Screenshot portal").
  virtual std::string name() const = 0;

  // The pixels of `monitor`, one of `layout`. `cursor`: whether the pointer
  // is drawn in (where the route can leave it out or put it in).
  virtual RouteResult capture(const RouteMonitor& monitor, const RouteLayout& layout, bool cursor,
                              const std::function<bool()>& cancelled) = 0;

  // Any thread. Whether a capture now asks the user nothing: the route
  // needs no grant, or holds one (a stored grant the desktop accepts, or a
  // capture that succeeded this session).
  virtual bool granted() const = 0;
  // Asks the user for the grant where the route has a question to ask (the
  // desktop's own dialog), and waits for the answer up to the route's
  // timeout. True when granted. A route without a question answers
  // granted().
  virtual bool requestGrant(const std::function<bool()>& cancelled) {
    (void)cancelled;
    return granted();
  }
  // Any thread. Whether one of this route's requests waits for the user now.
  virtual bool promptVisible() const { return false; }

  // A route that keeps something open between captures (a screen cast)
  // says for how long after the last one; the engine then calls
  // closeIdle() on the worker once that time has passed without a capture.
  virtual std::chrono::milliseconds keepsOpenFor() const { return std::chrono::milliseconds{0}; }
  virtual void closeIdle() {}
};

using CaptureRoutePtr = std::unique_ptr<CaptureRoute>;

}  // namespace dravel::linux_platform
