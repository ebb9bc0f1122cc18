// The workspace on the Linux desktop.
// - Showing files: the file manager's D-Bus interface
//   (org.freedesktop.FileManager1.ShowItems) shows them selected. When no file
//   manager answers in time, or it fails, the folder of the first file opens
//   with the desktop's default handler for folders instead. Nothing waits on
//   the main thread: the bus and the handler are reached asynchronously.
// - Opening an address: the desktop's default handler for its scheme (or, for
//   a file, for its content type); false when there is none or it cannot start.
// - Inside a Flatpak sandbox the file manager is out of reach: the OpenURI
//   portal's OpenDirectory shows the first file in its folder instead, given
//   a read-only descriptor of it (the portal refuses a writable one from a
//   sandbox, and counts a path-only one of a file the sandbox may write as
//   writable). Addresses go through GIO, which hands them to the portal's
//   OpenURI itself inside a sandbox.
// - The frontmost application is the owner of the window manager's active
//   window.
#pragma once

#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "platform/seam/workspace.h"

namespace dravel::linux_platform {

class LinuxWorkspace : public Workspace {
 public:
  // `frontmostPid` reads the active window's owner. A file manager that has
  // not answered after `showItemsTimeoutMs` counts as absent.
  // Inside a sandbox files are shown through the portal.
  explicit LinuxWorkspace(std::function<std::optional<int>()> frontmostPid,
                          int showItemsTimeoutMs = 5000);
  LinuxWorkspace(std::function<std::optional<int>()> frontmostPid, int showItemsTimeoutMs,
                 bool sandboxed);
  ~LinuxWorkspace() override;
  LinuxWorkspace(const LinuxWorkspace&) = delete;
  LinuxWorkspace& operator=(const LinuxWorkspace&) = delete;

  void activateFileViewerSelectingURLs(const std::vector<std::string>& urls) override;
  bool openURL(const std::string& url) override;
  std::optional<int> frontmostApplicationPid() override {
    return frontmostPid_ ? frontmostPid_() : std::nullopt;
  }

  // What became of each request to show files, in order; for state reports
  // and tests. Filled when the outcome is known, on the main thread.
  enum class ShowOutcome { kShownByFileManager, kFolderOpened, kNothingOpened, kHandedToPortal };
  const std::vector<ShowOutcome>& showOutcomes() const { return *outcomes_; }

  struct ShowRequest;

 private:
  std::function<std::optional<int>()> frontmostPid_;
  int showItemsTimeoutMs_;
  bool sandboxed_;
  // Shared with requests still on the way, which stop recording once the
  // workspace is gone.
  std::shared_ptr<std::vector<ShowOutcome>> outcomes_;
};

}  // namespace dravel::linux_platform
