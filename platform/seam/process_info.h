// This process: its id, its bundle identifier, its environment.
#pragma once

#include <compare>
#include <optional>
#include <string>

namespace dravel {

struct OperatingSystemVersion {
  int majorVersion = 0;
  int minorVersion = 0;
  int patchVersion = 0;
  auto operator<=>(const OperatingSystemVersion&) const = default;
};

class ProcessInfo {
 public:
  virtual ~ProcessInfo() = default;
  virtual int processIdentifier() = 0;
  // The main bundle's identifier; absent when the process has none.
  virtual std::optional<std::string> bundleIdentifier() = 0;
  // One environment variable; absent when unset (an empty value is present).
  virtual std::optional<std::string> environmentValue(const std::string& name) = 0;
  // The version of the operating system the process runs on.
  virtual OperatingSystemVersion operatingSystemVersion() = 0;
  bool isOperatingSystemAtLeastVersion(const OperatingSystemVersion& version) {
    return operatingSystemVersion() >= version;
  }
};

}  // namespace dravel
