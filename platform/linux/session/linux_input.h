// What the pointer service does alike on either display system: the clock
// events are stamped with and events made for the host.
#pragma once

#include "platform/seam/input.h"

namespace dravel::linux_platform {

class LinuxInput : public Input {
 public:
  // CLOCK_MONOTONIC, in seconds.
  double systemUptime() override;
  // Always made; it carries no native event.
  std::optional<MouseEvent> mouseEvent(int type, Point location, uint64_t modifierFlags,
                                       double timestamp, int64_t windowNumber, int64_t eventNumber,
                                       int64_t clickCount, double pressure) override;
};

}  // namespace dravel::linux_platform
