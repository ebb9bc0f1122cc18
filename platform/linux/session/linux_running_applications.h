// Running copies of this program on a Linux system, found by their executable:
// every process whose /proc/PID/exe is the same file as this process's, or
// was started from this program's path before an upgrade replaced the file
// there (its exe then shows the path marked " (deleted)"). They
// carry the bundle identifier given at construction and the executable's
// path as their bundle path. With a session variable given, only copies in
// the same desktop session count: those whose environment gives it the same
// value as this process's (for the X11 desktop DISPLAY, so that a copy
// serving another display, or a nested test desktop, is left alone). The
// process holding the program's identity in the session is listed as well,
// wherever its executable lies.
#pragma once

#include <sys/stat.h>

#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "platform/linux/session/process_handles.h"
#include "platform/seam/running_applications.h"

namespace dravel::linux_platform {

class LinuxRunningApplications : public RunningApplications {
 public:
  // `bundleIdentifier`: the identity of this program; `procRoot`: where the
  // process file system is mounted. With `handles`, a handle is held on each
  // other copy listed (opened, then the copy checked again, so that it names
  // the copy and not a process that took its id), and signals go through it.
  explicit LinuxRunningApplications(std::string bundleIdentifier, std::string procRoot = "/proc",
                                    std::string sessionVariable = "",
                                    std::shared_ptr<ProcessHandles> handles = nullptr);

  // The copies of this program, by ascending pid, this process included.
  std::vector<RunningApplication> runningApplications() override;
  // The same when the identifier is this program's, else none.
  std::vector<RunningApplication> runningApplicationsWithBundleIdentifier(
      const std::string& bundleIdentifier) override;
  // SIGTERM: a polite quit request. False when it could not be sent.
  bool terminate(int processIdentifier) override;

  // The process that holds the program's identity in this desktop session
  // (its well-known name on the session bus), if any: listed too, wherever
  // it was installed from (another install, a build tree).
  void setIdentityOwner(std::function<std::optional<int>()> owner) {
    identityOwner_ = std::move(owner);
  }

 private:
  bool isCopy(const std::string& pid, const struct stat& own, const std::string& ownPath);
  std::string bundleIdentifier_;
  std::string procRoot_;
  std::string sessionVariable_;
  std::shared_ptr<ProcessHandles> handles_;
  std::function<std::optional<int>()> identityOwner_;
};

// The value of `name` in an environment block as /proc/PID/environ holds it
// (NUL-separated NAME=VALUE entries); absent when it is not set.
std::optional<std::string> environmentEntry(const std::string& block, const std::string& name);

// An X display name without what does not change which server it names: a
// "unix" host and the screen number (":1", "unix:1" and ":1.0" are one).
std::string canonicalDisplayName(const std::string& display);

// The Wayland compositor a process's environment connects to: the socket
// WAYLAND_DISPLAY names, under XDG_RUNTIME_DIR unless it is a path (one name
// in two runtime folders is two compositors); empty without WAYLAND_DISPLAY.
std::string waylandSocketOf(const std::string& environment);

}  // namespace dravel::linux_platform
