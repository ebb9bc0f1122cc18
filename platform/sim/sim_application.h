// The simulated application object.
#pragma once

#include <functional>

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

  // True when `otherCopyRunning`: the simulated session's other copy takes
  // the launch.
  bool handOverToRunningCopy() override {
    ++handOverAttempts;
    return otherCopyRunning;
  }
  void setReopenHandler(std::function<void(bool)> handler) override {
    reopenHandler = std::move(handler);
  }

  int policy = kActivationPolicyRegular;
  bool otherCopyRunning = false;
  int handOverAttempts = 0;
  std::function<void(bool)> reopenHandler;
  bool hidden = false;
  int policyChanges = 0;
  int activations = 0;
  int unhides = 0;
};

}  // namespace dravel::sim
