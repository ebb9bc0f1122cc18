// The system's screen-recording permission.
#pragma once

#include <functional>
#include <optional>

namespace dravel {

class ScreenCaptureAccess {
 public:
  virtual ~ScreenCaptureAccess() = default;
  // Whether the process may record the screen; asks nothing.
  virtual bool preflight() = 0;
  // Asks for the permission (the system may show its prompt); whether it is granted.
  virtual bool request() = 0;
  // The same without holding the caller: `done` runs once on the main thread
  // with the answer, later or at once. Systems whose prompt answers only
  // when the user has chosen implement this and never block in it.
  virtual void requestAsync(std::function<void(bool granted)> done) { done(request()); }
  // Whether one of this process's own permission requests waits for the
  // user now, where the system lets the process know; absent where the
  // system's prompt can only be seen from outside (the window list).
  virtual std::optional<bool> promptVisible() { return std::nullopt; }
};

}  // namespace dravel
