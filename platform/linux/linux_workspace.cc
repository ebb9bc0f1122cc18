#include "platform/linux/linux_workspace.h"

#include "channels/log.h"

namespace dravel::linux_platform {

void LinuxWorkspace::activateFileViewerSelectingURLs(const std::vector<std::string>& urls) {
  NSLog("[workspace] cannot show %zu item(s) in the file manager: not available on this desktop",
        urls.size());
}

bool LinuxWorkspace::openURL(const std::string& url) {
  NSLog("[workspace] cannot open %s: not available on this desktop", url.c_str());
  return false;
}

}  // namespace dravel::linux_platform
