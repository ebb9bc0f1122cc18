// The folder and file chooser.
#pragma once

#include <cstdint>
#include <functional>
#include <optional>
#include <string>

namespace dravel {

// Modal responses of a panel.
inline constexpr int kModalResponseCancel = 0;
inline constexpr int kModalResponseOK = 1;

struct OpenPanelConfiguration {
  bool canChooseDirectories = false;
  bool canChooseFiles = true;
  bool canCreateDirectories = false;
  bool allowsMultipleSelection = false;
  // The folder the panel starts in, as a directory file address
  // ("file:///Users/me/Pictures/"); absent for the panel's own choice.
  std::optional<std::string> directoryURL;
  bool operator==(const OpenPanelConfiguration&) const = default;
};

class OpenPanel {
 public:
  // The modal response and the file-system path of the chosen location
  // (absent when nothing was chosen).
  using Completion = std::function<void(int response, std::optional<std::string> path)>;

  virtual ~OpenPanel() = default;
  // Shows a panel without blocking. `completion` runs once, on the main
  // queue, when the panel closes; never before this returns. Returns a number
  // that names the panel for cancel().
  virtual uint64_t begin(const OpenPanelConfiguration& configuration, Completion completion) = 0;
  // Closes a panel still open as if the user cancelled it: its completion
  // runs (later, on the main queue) with kModalResponseCancel and no path.
  // Nothing happens when that panel has already closed. A real desktop takes
  // its dialog down (the portal request's Close, or hiding the native chooser).
  virtual void cancel(uint64_t panel) = 0;
};

}  // namespace dravel
