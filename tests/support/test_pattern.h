// The known pixels dravel_pattern_window (tests/tools/pattern_window.cc)
// shows, so that tests recompute what a capture of its monitor must hold.
#pragma once

#include <cstdint>

namespace dravel::testing {

// The 0xRRGGBB colour at window pixel (x, y) of the window on monitor
// `monitor`: 64-pixel squares whose red and green count the column and row,
// blue the monitor.
inline uint32_t patternPixel(int monitor, int x, int y) {
  const auto r = static_cast<uint32_t>((x / 64) * 16 % 256);
  const auto g = static_cast<uint32_t>((y / 64) * 16 % 256);
  const auto b = static_cast<uint32_t>(monitor * 96 % 256);
  return (r << 16) | (g << 8) | b;
}

}  // namespace dravel::testing
