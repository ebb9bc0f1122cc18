// The "sim/desktop" channel, served only on the simulated desktop: load a
// scenario, read the observable state, and perform simulated user actions.
#pragma once

#include "channels/binary_messenger.h"
#include "channels/value.h"

namespace dravel::sim {

inline constexpr const char* kSimDesktopChannel = "sim/desktop";

class SimDesktop;

class SimDesktopChannel {
 public:
  // Installs the channel's handler on `messenger`.
  SimDesktopChannel(SimDesktop& desktop, FlutterBinaryMessenger& messenger);
  ~SimDesktopChannel();
  SimDesktopChannel(const SimDesktopChannel&) = delete;
  SimDesktopChannel& operator=(const SimDesktopChannel&) = delete;

  // Every section's state, plus "log": the desktop's log lines since it was
  // made, the host's start-up included.
  Value state() const;

 private:
  SimDesktop& desktop_;
  FlutterBinaryMessenger& messenger_;
};

}  // namespace dravel::sim
