// The workspace on the Linux desktop: the frontmost application (the owner of
// the window manager's active window) is real; showing files and opening
// addresses through the desktop's handlers are not served yet and say so.
#pragma once

#include <functional>
#include <optional>

#include "platform/workspace.h"

namespace dravel::linux_platform {

class LinuxWorkspace : public Workspace {
 public:
  // `frontmostPid` reads the active window's owner.
  explicit LinuxWorkspace(std::function<std::optional<int>()> frontmostPid)
      : frontmostPid_(std::move(frontmostPid)) {}

  // Not served on this desktop yet: logged, nothing is shown.
  void activateFileViewerSelectingURLs(const std::vector<std::string>& urls) override;
  // Not served on this desktop yet: false (no handler opened it).
  bool openURL(const std::string& url) override;
  std::optional<int> frontmostApplicationPid() override {
    return frontmostPid_ ? frontmostPid_() : std::nullopt;
  }

 private:
  std::function<std::optional<int>()> frontmostPid_;
};

}  // namespace dravel::linux_platform
