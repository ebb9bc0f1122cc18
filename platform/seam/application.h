// The application: activation policy and activation.
#pragma once

#include <functional>

namespace dravel {

enum ActivationPolicy : int {
  kActivationPolicyRegular = 0,
  kActivationPolicyAccessory = 1,
  kActivationPolicyProhibited = 2,
};

class Application {
 public:
  virtual ~Application() = default;
  virtual int activationPolicy() = 0;
  virtual bool setActivationPolicy(int policy) = 0;
  virtual void activateIgnoringOtherApps(bool flag) = 0;
  virtual void unhide() = 0;

  // Where nothing else keeps the application to one copy (a sandbox that
  // sees no other processes): hands this launch to a copy already running in
  // the session, which comes forward as on a reopen. True when one took it,
  // and this copy is then to end.
  virtual bool handOverToRunningCopy() = 0;
  // Runs `handler` on the main thread when a later launch hands itself over
  // to this copy, with whether the main window is on screen.
  virtual void setReopenHandler(std::function<void(bool hasVisibleWindows)> handler) = 0;
};

}  // namespace dravel
