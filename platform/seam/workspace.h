// The workspace: the file viewer, opening addresses, the frontmost application.
#pragma once

#include <optional>
#include <string>
#include <vector>

namespace dravel {

class Workspace {
 public:
  virtual ~Workspace() = default;
  // Shows the file viewer with the given file addresses selected.
  virtual void activateFileViewerSelectingURLs(const std::vector<std::string>& urls) = 0;
  // Opens an address; false when nothing could open it.
  virtual bool openURL(const std::string& url) = 0;
  // Process id of the frontmost application, absent when there is none.
  virtual std::optional<int> frontmostApplicationPid() = 0;
};

}  // namespace dravel
