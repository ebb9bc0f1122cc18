#include "host/hotkey_probe.h"

namespace dravel::HotkeyProbe {

// The system's hotkey table is not part of the platform yet: no answer.
std::optional<bool> isFree(std::optional<int64_t>, const std::vector<std::string>&) {
  return std::nullopt;
}

}  // namespace dravel::HotkeyProbe
