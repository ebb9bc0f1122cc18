// The system's screen-recording permission.
#pragma once

namespace dravel {

class ScreenCaptureAccess {
 public:
  virtual ~ScreenCaptureAccess() = default;
  // Whether the process may record the screen; asks nothing.
  virtual bool preflight() = 0;
  // Asks for the permission (the system may show its prompt); whether it is granted.
  virtual bool request() = 0;
};

}  // namespace dravel
