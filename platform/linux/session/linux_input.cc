#include "platform/linux/session/linux_input.h"

#include <time.h>

namespace dravel::linux_platform {

double LinuxInput::systemUptime() {
  timespec now{};
  clock_gettime(CLOCK_MONOTONIC, &now);
  return static_cast<double>(now.tv_sec) + static_cast<double>(now.tv_nsec) / 1e9;
}

std::optional<MouseEvent> LinuxInput::mouseEvent(int type, Point location, uint64_t modifierFlags,
                                                 double timestamp, int64_t windowNumber,
                                                 int64_t eventNumber, int64_t clickCount,
                                                 double pressure) {
  return MouseEvent{type,        location,   modifierFlags, timestamp, windowNumber,
                    eventNumber, clickCount, pressure,      nullptr};
}

}  // namespace dravel::linux_platform
