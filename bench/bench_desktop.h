// The one simulated desktop the benchmarks share, installed as the platform
// on first use and kept for the whole run.
#pragma once

#include "platform/seam/platform.h"
#include "platform/sim/sim_desktop.h"

namespace dravel {

inline sim::SimDesktop& benchDesktop() {
  static auto* desktop = [] {
    auto* made = new sim::SimDesktop(nullptr);
    setPlatform(made);
    return made;
  }();
  return *desktop;
}

}  // namespace dravel
