// The window list on a Wayland session. Wayland shows an ordinary client no
// other client's windows; where sway's IPC answers ($SWAYSOCK set and its
// GET_TREE well-formed) the list is sway's visible windows, front to back
// with the focused one first; else, where KWin's scripting answers, it is
// KWin's active window alone (kwin_active_window.h); else it is empty (which
// the host reads as "nothing found"). The capability is asked each time,
// never guessed from the desktop's name; one answer serves the reads of the
// next 100 ms.
#pragma once

#include <chrono>
#include <functional>
#include <optional>
#include <vector>

#include "platform/linux/session/screen_layout.h"
#include "platform/linux/wayland/kwin_active_window.h"
#include "platform/linux/wayland/sway_ipc.h"
#include "platform/seam/window_list.h"

namespace dravel::linux_platform {

// The entries of sway's windows, as the X11 list gives them: layer 0, the
// container id as the number, bounds in points with the top-left origin of
// `layout`'s primary (sway's rects are logical pixels of the same space as
// the layout's monitors). At most kMaxWindowListEntries.
ValueList swayWindowEntries(const std::vector<SwayWindow>& windows, const DesktopLayout& layout);

// The entry of KWin's active window, the same way: its number from KWin's
// internal id, its owner name the resource class, its title the caption.
ValueMap kwinWindowEntry(const KWinActiveWindow& window, const DesktopLayout& layout);

class WaylandWindowList : public WindowList {
 public:
  // `layout`: the monitors in logical pixels at scale 1, on the main thread.
  explicit WaylandWindowList(std::function<DesktopLayout()> layout) : layout_(std::move(layout)) {}

  std::optional<Value> copyWindowInfo(uint32_t option, uint32_t relativeToWindow) override;
  // The focused window's owner, when sway or KWin tells one.
  std::optional<int> focusedPid();

 private:
  struct Answer {
    ValueList entries;
    std::optional<int> focusedPid;
  };
  // The latest answer, asked again when older than 100 ms.
  const Answer& answer();
  // sway's visible windows; nothing (logged once) when sway does not answer.
  std::optional<std::vector<SwayWindow>> swayWindows();
  // KWin's active window; nothing (logged once) when KWin does not answer.
  Answer kwinAnswer();

  std::function<DesktopLayout()> layout_;
  KWinActiveWindowProbe kwin_;
  Answer answer_;
  std::optional<std::chrono::steady_clock::time_point> answered_;
  bool failureLogged_ = false;
  bool kwinFailureLogged_ = false;
};

}  // namespace dravel::linux_platform
