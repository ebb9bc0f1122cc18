// This process: its id, its bundle identifier, its environment.
#pragma once

#include <optional>
#include <string>

namespace dravel {

class ProcessInfo {
 public:
  virtual ~ProcessInfo() = default;
  virtual int processIdentifier() = 0;
  // The main bundle's identifier; absent when the process has none.
  virtual std::optional<std::string> bundleIdentifier() = 0;
  // One environment variable; absent when unset (an empty value is present).
  virtual std::optional<std::string> environmentValue(const std::string& name) = 0;
};

}  // namespace dravel
