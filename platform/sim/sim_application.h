// The simulated application object.
#pragma once

#include "platform/seam/application.h"

namespace dravel::sim {

class SimApplication : public Application {
 public:
  int activationPolicy() override { return policy; }
  bool setActivationPolicy(int p) override {
    policy = p;
    ++policyChanges;
    return true;
  }
  void activateIgnoringOtherApps(bool) override { ++activations; }
  void unhide() override {
    hidden = false;
    ++unhides;
  }

  int policy = kActivationPolicyRegular;
  bool hidden = false;
  int policyChanges = 0;
  int activations = 0;
  int unhides = 0;
};

}  // namespace dravel::sim
