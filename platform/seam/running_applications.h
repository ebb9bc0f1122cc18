// Running applications.
#pragma once

#include <optional>
#include <string>
#include <vector>

namespace dravel {

struct RunningApplication {
  int processIdentifier = 0;
  std::optional<std::string> bundleIdentifier;
  // The file-system path of the application's bundle; absent when unknown.
  std::optional<std::string> bundlePath;
  std::string localizedName;
  bool operator==(const RunningApplication&) const = default;
};

class RunningApplications {
 public:
  virtual ~RunningApplications() = default;
  // Every running application, in the platform's order.
  virtual std::vector<RunningApplication> runningApplications() = 0;
  // The running applications with exactly this bundle identifier, this
  // process included, in the platform's order.
  virtual std::vector<RunningApplication> runningApplicationsWithBundleIdentifier(
      const std::string& bundleIdentifier) = 0;
  // Asks an application to quit; it may do so at its own pace.
  virtual bool terminate(int processIdentifier) = 0;
};

}  // namespace dravel
