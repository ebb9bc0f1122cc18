// The application: activation policy and activation.
#pragma once

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
};

}  // namespace dravel
