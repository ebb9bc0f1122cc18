#include "platform/sim/sim_screens.h"

#include "channels/main_queue.h"

namespace dravel::sim {

std::shared_ptr<SimScreen> SimScreen::withDisplayId(Rect frame, double scale, uint32_t displayId) {
  ValueMap description;
  description.set("NSScreenNumber", Value(static_cast<int64_t>(displayId)));
  return std::make_shared<SimScreen>(frame, scale, std::move(description));
}

double SimInput::systemUptime() {
  return uptimeBase + mainQueue().now();
}

std::optional<MouseEvent> SimInput::mouseEvent(int type, Point location, uint64_t modifierFlags,
                                               double timestamp, int64_t windowNumber,
                                               int64_t eventNumber, int64_t clickCount,
                                               double pressure) {
  if (failEventCreation) return std::nullopt;
  return MouseEvent{type,        location,   modifierFlags, timestamp, windowNumber,
                    eventNumber, clickCount, pressure,      nullptr};
}

}  // namespace dravel::sim
