// This process on Linux: its id, the application id, its environment and the
// kernel's version.
#pragma once

#include <string>

#include "platform/seam/process_info.h"

namespace dravel::linux_platform {

// The reverse-DNS application id. The installed desktop entry is named after
// it, and the desktop's services (notifications, portals) key on it.
inline constexpr const char* kApplicationId = "app.dravel.Dravel";
// Where a copy holding the application id on the session bus serves
// org.freedesktop.Application, as desktops expect of it.
inline constexpr const char* kApplicationObjectPath = "/app/dravel/Dravel";

// The environment variable the host's sandbox rule reads.
inline constexpr const char* kSandboxContainerKey = "APP_SANDBOX_CONTAINER_ID";

class LinuxProcessInfo : public ProcessInfo {
 public:
  // `flatpakInfoPath`: the file Flatpak puts at the root of every sandbox.
  explicit LinuxProcessInfo(std::string flatpakInfoPath = "/.flatpak-info")
      : flatpakInfoPath_(std::move(flatpakInfoPath)) {}

  int processIdentifier() override;
  std::optional<std::string> bundleIdentifier() override { return std::string(kApplicationId); }
  // getenv, except the sandbox key: inside a Flatpak sandbox it reads as the
  // sandbox's application id (FLATPAK_ID, else the name in the sandbox's
  // info file, which is there even when the environment was cleared), so the
  // host's sandbox rule holds there too.
  std::optional<std::string> environmentValue(const std::string& name) override;
  // The running kernel's version (uname), for logs: nothing chooses a code
  // path by it.
  OperatingSystemVersion operatingSystemVersion() override;

 private:
  std::string flatpakInfoPath_;
};

// Whether this process runs inside a Flatpak sandbox: FLATPAK_ID is set, or
// the sandbox's info file is at the root (there even when the environment
// was cleared).
bool runningInFlatpak();

// The release string of a kernel ("6.1.0-18-amd64") as a version.
OperatingSystemVersion versionFromRelease(const std::string& release);

}  // namespace dravel::linux_platform
