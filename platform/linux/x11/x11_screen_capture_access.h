// Screen-recording permission on an X11 desktop: X has no permission model,
// every client may read the screen, so the permission is always granted.
#pragma once

#include "platform/seam/screen_capture_access.h"

namespace dravel::linux_platform {

class X11ScreenCaptureAccess : public ScreenCaptureAccess {
 public:
  bool preflight() override { return true; }
  bool request() override { return true; }
};

}  // namespace dravel::linux_platform
