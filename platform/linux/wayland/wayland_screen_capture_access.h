// Screen-recording permission on a Wayland session: the capture route's
// grant. A route that needs none (the screencopy protocol, an authorised
// KWin) is always granted; the portal holds a grant while its stored token
// is accepted or a capture succeeded this session. Asking shows the
// desktop's own dialog where it has one; the answer comes back on the main
// queue when the user has chosen, or as a refusal after the portal's
// timeout.
#pragma once

#include "platform/linux/wayland/wayland_screen_capture.h"
#include "platform/seam/screen_capture_access.h"

namespace dravel::linux_platform {

class WaylandScreenCaptureAccess : public ScreenCaptureAccess {
 public:
  explicit WaylandScreenCaptureAccess(WaylandScreenCapture& engine) : engine_(engine) {}
  bool preflight() override { return engine_.granted(); }
  // Never waits: what is known now.
  bool request() override { return engine_.granted(); }
  void requestAsync(std::function<void(bool granted)> done) override {
    engine_.requestGrant(std::move(done));
  }
  std::optional<bool> promptVisible() override { return engine_.promptVisible(); }

 private:
  WaylandScreenCapture& engine_;
};

}  // namespace dravel::linux_platform
