#include "host/displays.h"

#include <cmath>

#include "platform/seam/platform.h"

namespace dravel {

const char* kScreenNumberKey() {
  static const char* const key = "NSScreenNumber";
  return key;
}

std::optional<uint32_t> displayID(const Screen& screen) {
  const ValueMap description = screen.deviceDescription();
  const Value* entry = description.find(kScreenNumberKey());
  if (!entry) return std::nullopt;
  // A number, read as unsigned 32-bit: integers keep their low 32 bits,
  // doubles are truncated first.
  if (auto i = entry->asInt()) return static_cast<uint32_t>(static_cast<uint64_t>(*i));
  if (auto d = entry->asDouble()) {
    if (!std::isfinite(*d)) return 0u;
    double t = std::trunc(*d);
    if (t >= 0 && t < 18446744073709551616.0) {
      return static_cast<uint32_t>(static_cast<uint64_t>(t));
    }
    if (t < 0 && t >= -9223372036854775808.0) {
      return static_cast<uint32_t>(static_cast<uint64_t>(static_cast<int64_t>(t)));
    }
    return 0u;
  }
  if (auto b = entry->asBool()) return *b ? 1u : 0u;
  return std::nullopt;
}

ScreenPtr screenUnderCursor() {
  Screens& screens = platform().screens();
  const Point mouse = platform().input().mouseLocation();
  const std::vector<ScreenPtr> all = screens.screens();
  for (const ScreenPtr& screen : all) {
    if (screen && mouseInRect(mouse, screen->frame())) return screen;
  }
  if (ScreenPtr main = screens.mainScreen()) return main;
  if (!all.empty()) return all.front();
  return nullptr;
}

}  // namespace dravel
