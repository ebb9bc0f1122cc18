// Running copies of this program on a Linux system, found by their executable:
// every process whose /proc/PID/exe is the same file as this process's. They
// carry the bundle identifier given at construction and the executable's
// path as their bundle path.
#pragma once

#include <optional>
#include <string>
#include <vector>

#include "platform/running_applications.h"

namespace dravel::linux_platform {

class LinuxRunningApplications : public RunningApplications {
 public:
  // `bundleIdentifier`: the identity of this program; `procRoot`: where the
  // process file system is mounted.
  explicit LinuxRunningApplications(std::string bundleIdentifier, std::string procRoot = "/proc");

  // The copies of this program, by ascending pid, this process included.
  std::vector<RunningApplication> runningApplications() override;
  // The same when the identifier is this program's, else none.
  std::vector<RunningApplication> runningApplicationsWithBundleIdentifier(
      const std::string& bundleIdentifier) override;
  // SIGTERM: a polite quit request. False when it could not be sent.
  bool terminate(int processIdentifier) override;

 private:
  std::string bundleIdentifier_;
  std::string procRoot_;
};

}  // namespace dravel::linux_platform
