// The window server's list of windows, entry by entry as it gives them.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string_view>

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

// Bounds on what is read from the window server's list. Every implementation
// applies them where it reads raw entries, and the host again where it walks
// a list: at most kMaxWindowListEntries entries (the frontmost ones), and
// window titles and owner names of at most kMaxWindowTitleBytes, cut on a
// UTF-8 boundary. A list is walked on the main thread for every capture and
// "activeWindow", so its size must not be up to whoever names a window.
inline constexpr size_t kMaxWindowListEntries = 1024;
inline constexpr size_t kMaxWindowTitleBytes = 1024;

class WindowList {
 public:
  virtual ~WindowList() = default;
  // The window entries, front to back, as the window server gives them: a
  // list of maps normally, but callers must not rely on that shape. Within
  // the bounds above. Absent when the list cannot be read.
  virtual std::optional<Value> copyWindowInfo(uint32_t option, uint32_t relativeToWindow) = 0;
};

}  // namespace dravel
