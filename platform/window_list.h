// The window server's list of windows, entry by entry as it gives them.
#pragma once

#include <cstdint>
#include <optional>

#include "channels/value.h"

namespace dravel {

// Window-list options.
inline constexpr uint32_t kWindowListOptionOnScreenOnly = 1;
inline constexpr uint32_t kWindowListOptionOnScreenBelowWindow = 4;
inline constexpr uint32_t kWindowListExcludeDesktopElements = 16;

// Entry keys.
inline constexpr const char* kCGWindowLayer = "kCGWindowLayer";
inline constexpr const char* kCGWindowOwnerPID = "kCGWindowOwnerPID";
inline constexpr const char* kCGWindowOwnerName = "kCGWindowOwnerName";
inline constexpr const char* kCGWindowName = "kCGWindowName";
inline constexpr const char* kCGWindowAlpha = "kCGWindowAlpha";
inline constexpr const char* kCGWindowBounds = "kCGWindowBounds";
inline constexpr const char* kCGWindowNumber = "kCGWindowNumber";

class WindowList {
 public:
  virtual ~WindowList() = default;
  // The window entries, front to back, as the window server gives them: a
  // list of maps normally, but callers must not rely on that shape. Absent
  // when the list cannot be read.
  virtual std::optional<Value> copyWindowInfo(uint32_t option, uint32_t relativeToWindow) = 0;
};

}  // namespace dravel
