// The folder and file chooser.
#pragma once

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
  // queue, when the user closes the panel; never before this returns.
  virtual void begin(const OpenPanelConfiguration& configuration, Completion completion) = 0;
};

}  // namespace dravel
