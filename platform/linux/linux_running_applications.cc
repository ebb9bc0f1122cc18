#include "platform/linux/linux_running_applications.h"

#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cctype>
#include <csignal>
#include <filesystem>

namespace dravel::linux_platform {

namespace {

std::optional<std::string> readLink(const std::string& path) {
  std::string buffer(4096, '\0');
  ssize_t n = ::readlink(path.c_str(), buffer.data(), buffer.size());
  if (n <= 0 || static_cast<size_t>(n) >= buffer.size()) return std::nullopt;
  buffer.resize(static_cast<size_t>(n));
  return buffer;
}

bool allDigits(const std::string& s) {
  return !s.empty() &&
         std::all_of(s.begin(), s.end(), [](unsigned char c) { return std::isdigit(c); });
}

}  // namespace

LinuxRunningApplications::LinuxRunningApplications(std::string bundleIdentifier,
                                                   std::string procRoot)
    : bundleIdentifier_(std::move(bundleIdentifier)), procRoot_(std::move(procRoot)) {}

std::vector<RunningApplication> LinuxRunningApplications::runningApplications() {
  std::vector<RunningApplication> out;
  // Compared as files (device and inode), so a copy is found even when it
  // was started through another path or link.
  struct stat own {};
  if (::stat((procRoot_ + "/self/exe").c_str(), &own) != 0) return out;

  std::error_code ec;
  for (auto& entry : std::filesystem::directory_iterator(procRoot_, ec)) {
    const std::string name = entry.path().filename().string();
    if (!allDigits(name) || name.size() > 9) continue;
    const std::string exe = procRoot_ + "/" + name + "/exe";
    struct stat other {};
    // Processes of other users cannot be read; they are not ours to close.
    if (::stat(exe.c_str(), &other) != 0) continue;
    if (other.st_dev != own.st_dev || other.st_ino != own.st_ino) continue;
    RunningApplication app;
    app.processIdentifier = std::stoi(name);
    app.bundleIdentifier = bundleIdentifier_;
    app.bundlePath = readLink(exe);
    if (app.bundlePath)
      app.localizedName = std::filesystem::path(*app.bundlePath).filename().string();
    out.push_back(std::move(app));
  }
  std::sort(out.begin(), out.end(), [](const RunningApplication& a, const RunningApplication& b) {
    return a.processIdentifier < b.processIdentifier;
  });
  return out;
}

std::vector<RunningApplication> LinuxRunningApplications::runningApplicationsWithBundleIdentifier(
    const std::string& bundleIdentifier) {
  if (bundleIdentifier != bundleIdentifier_) return {};
  return runningApplications();
}

bool LinuxRunningApplications::terminate(int processIdentifier) {
  if (processIdentifier <= 0) return false;
  return ::kill(processIdentifier, SIGTERM) == 0;
}

}  // namespace dravel::linux_platform
