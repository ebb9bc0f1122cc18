#include "platform/linux/session/linux_process_info.h"

#include <sys/utsname.h>
#include <unistd.h>

#include <cstdlib>
#include <fstream>

namespace dravel::linux_platform {

int LinuxProcessInfo::processIdentifier() {
  return static_cast<int>(::getpid());
}

std::optional<std::string> LinuxProcessInfo::environmentValue(const std::string& name) {
  if (const char* value = std::getenv(name.c_str())) return std::string(value);
  if (name == kSandboxContainerKey) {
    if (const char* flatpak = std::getenv("FLATPAK_ID")) return std::string(flatpak);
    // A key file: "name=" in its [Application] group.
    std::ifstream info(flatpakInfoPath_);
    if (!info) return std::nullopt;
    std::string line;
    bool application = false;
    while (std::getline(info, line)) {
      if (!line.empty() && line.front() == '[') {
        application = line == "[Application]";
      } else if (application && line.rfind("name=", 0) == 0) {
        return line.substr(5);
      }
    }
    return std::string("flatpak");
  }
  return std::nullopt;
}

bool runningInFlatpak() {
  return std::getenv("FLATPAK_ID") != nullptr || ::access("/.flatpak-info", F_OK) == 0;
}

OperatingSystemVersion LinuxProcessInfo::operatingSystemVersion() {
  struct utsname names {};
  if (::uname(&names) != 0) return {};
  return versionFromRelease(names.release);
}

OperatingSystemVersion versionFromRelease(const std::string& release) {
  int parts[3] = {0, 0, 0};
  size_t at = 0;
  for (int i = 0; i < 3 && at < release.size(); ++i) {
    size_t digits = 0;
    long value = 0;
    while (at + digits < release.size() && release[at + digits] >= '0' &&
           release[at + digits] <= '9' && digits < 9) {
      value = value * 10 + (release[at + digits] - '0');
      ++digits;
    }
    if (digits == 0) break;
    parts[i] = static_cast<int>(value);
    at += digits;
    if (at >= release.size() || release[at] != '.') break;
    ++at;
  }
  return {parts[0], parts[1], parts[2]};
}

}  // namespace dravel::linux_platform
