// The clipboard of a Wayland seat owned through the compositor's data
// control protocol (zwlr_data_control_manager_v1, offered by wlroots
// compositors and KWin), which needs no keyboard focus, unlike the toolkit's
// clipboard: the host can copy while none of its windows is focused.
//
// The host's own connection to the compositor (not the toolkit's), watched
// on the main context. A reader's request is answered on a thread of its
// own that writes the bytes and closes the pipe, so a slow reader never
// holds the main thread; a promised type is made on the main thread first.
#pragma once

#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "platform/linux/session/linux_pasteboard.h"
#include "platform/seam/pasteboard.h"

namespace dravel::linux_platform {

class WaylandDataControl : public SelectionOwner {
 public:
  // Connects to the compositor WAYLAND_DISPLAY names and takes the first
  // seat's data device; null, saying why, when the compositor offers no
  // data control or cannot be reached.
  static std::unique_ptr<WaylandDataControl> connect(std::string* why);
  ~WaylandDataControl() override;
  WaylandDataControl(const WaylandDataControl&) = delete;
  WaylandDataControl& operator=(const WaylandDataControl&) = delete;

  // False when the compositor connection is gone.
  bool own(std::shared_ptr<const std::vector<PasteboardItem>> items,
           std::vector<std::string> mimeTypes, std::function<void()> lost) override;
  void release() override;

  struct State;

 private:
  explicit WaylandDataControl(std::unique_ptr<State> state);
  std::unique_ptr<State> state_;
};

}  // namespace dravel::linux_platform
