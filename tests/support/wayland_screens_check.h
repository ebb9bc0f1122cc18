// The host's screens on the Wayland test desktop against the compositor's
// own list of its monitors (wayland_oracles.h).
#pragma once

#include <string>

namespace dravel::testing {

// Reads the screens as the host does (GTK on its Wayland backend, in this
// process) and compares them with the compositor's monitors converted into
// points: the bottom-left corner of the monitor at the compositor's origin as
// (0, 0), y upward, each monitor's own scale. Empty when they agree within
// a few seconds (mutter's layout mode is answered asynchronously), else both
// lists.
std::string screensAgainstCompositor();

}  // namespace dravel::testing
