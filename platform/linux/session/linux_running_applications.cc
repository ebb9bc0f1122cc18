#include "platform/linux/session/linux_running_applications.h"

#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cctype>
#include <csignal>
#include <cstdio>
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

std::optional<std::string> readSmallFile(const std::string& path) {
  FILE* file = std::fopen(path.c_str(), "rb");
  if (!file) return std::nullopt;
  std::string text;
  char buffer[4096];
  size_t n = 0;
  // An environment is bounded by the kernel's argument limits; more is not read.
  while ((n = std::fread(buffer, 1, sizeof buffer, file)) > 0 && text.size() < (4u << 20)) {
    text.append(buffer, n);
  }
  std::fclose(file);
  return text;
}

// The executable's path without the mark the kernel adds once the file was
// deleted or replaced.
std::string withoutDeletedMark(std::string path) {
  static const std::string kMark = " (deleted)";
  if (path.size() > kMark.size() && path.ends_with(kMark)) path.resize(path.size() - kMark.size());
  return path;
}

bool allDigits(const std::string& s) {
  return !s.empty() &&
         std::all_of(s.begin(), s.end(), [](unsigned char c) { return std::isdigit(c); });
}

}  // namespace

std::optional<std::string> environmentEntry(const std::string& block, const std::string& name) {
  const std::string prefix = name + "=";
  size_t at = 0;
  while (at < block.size()) {
    size_t end = block.find('\0', at);
    if (end == std::string::npos) end = block.size();
    if (block.compare(at, prefix.size(), prefix) == 0 && end - at >= prefix.size()) {
      return block.substr(at + prefix.size(), end - at - prefix.size());
    }
    at = end + 1;
  }
  return std::nullopt;
}

std::string canonicalDisplayName(const std::string& display) {
  std::string name = display;
  if (name.rfind("unix:", 0) == 0) name.erase(0, 4);
  const size_t colon = name.rfind(':');
  const size_t dot = name.find('.', colon == std::string::npos ? 0 : colon);
  if (colon != std::string::npos && dot != std::string::npos) name.erase(dot);
  return name;
}

std::string waylandSocketOf(const std::string& environment) {
  const std::string name = environmentEntry(environment, "WAYLAND_DISPLAY").value_or("");
  if (name.empty() || name[0] == '/') return name;
  return environmentEntry(environment, "XDG_RUNTIME_DIR").value_or("") + "/" + name;
}

LinuxRunningApplications::LinuxRunningApplications(std::string bundleIdentifier,
                                                   std::string procRoot,
                                                   std::string sessionVariable,
                                                   std::shared_ptr<ProcessHandles> handles)
    : bundleIdentifier_(std::move(bundleIdentifier)),
      procRoot_(std::move(procRoot)),
      sessionVariable_(std::move(sessionVariable)),
      handles_(std::move(handles)) {}

bool LinuxRunningApplications::isCopy(const std::string& pid, const struct stat& own,
                                      const std::string& ownPath) {
  const std::string exe = procRoot_ + "/" + pid + "/exe";
  struct stat other {};
  // Processes of other users cannot be read; they are not ours to close.
  if (::stat(exe.c_str(), &other) != 0) return false;
  if (other.st_dev == own.st_dev && other.st_ino == own.st_ino) return true;
  // One of the two was started from this program's path before the file
  // there was replaced (an upgrade): the same path, one of them marked.
  std::optional<std::string> otherPath = readLink(exe);
  if (!otherPath || ownPath.empty()) return false;
  const std::string stripped = withoutDeletedMark(*otherPath);
  const bool marked = stripped != *otherPath || withoutDeletedMark(ownPath) != ownPath;
  return marked && stripped == withoutDeletedMark(ownPath);
}

std::vector<RunningApplication> LinuxRunningApplications::runningApplications() {
  std::vector<RunningApplication> out;
  // Compared as files (device and inode), so a copy is found even when it
  // was started through another path or link.
  struct stat own {};
  if (::stat((procRoot_ + "/self/exe").c_str(), &own) != 0) return out;

  // The session this process belongs to, when copies are counted per session.
  std::optional<std::string> ownSession;
  auto sessionOf = [&](const std::string& pid) -> std::optional<std::string> {
    std::optional<std::string> block = readSmallFile(procRoot_ + "/" + pid + "/environ");
    if (!block) return std::nullopt;
    if (sessionVariable_ == "WAYLAND_DISPLAY") return waylandSocketOf(*block);
    return canonicalDisplayName(environmentEntry(*block, sessionVariable_).value_or(""));
  };
  if (!sessionVariable_.empty()) {
    ownSession = sessionOf("self");
    if (!ownSession) return out;
  }

  const std::string ownPath = readLink(procRoot_ + "/self/exe").value_or("");
  const std::string ownPid = std::to_string(::getpid());
  std::error_code ec;
  for (auto& entry : std::filesystem::directory_iterator(procRoot_, ec)) {
    const std::string name = entry.path().filename().string();
    if (!allDigits(name) || name.size() > 9) continue;
    if (!isCopy(name, own, ownPath)) continue;
    if (ownSession && sessionOf(name) != ownSession) continue;
    const int pid = std::stoi(name);
    if (handles_ && name != ownPid && !handles_->holds(pid)) {
      // Held from here on; checked again once held, since the id may have
      // changed hands between the first look and the handle.
      if (!handles_->hold(pid)) continue;
      if (!isCopy(name, own, ownPath)) {
        handles_->release(pid);
        continue;
      }
    }
    RunningApplication app;
    app.processIdentifier = pid;
    app.bundleIdentifier = bundleIdentifier_;
    if (std::optional<std::string> path = readLink(procRoot_ + "/" + name + "/exe")) {
      app.bundlePath = withoutDeletedMark(*path);
      app.localizedName = std::filesystem::path(*app.bundlePath).filename().string();
    }
    out.push_back(std::move(app));
  }
  if (identityOwner_) {
    const std::optional<int> owner = identityOwner_();
    const bool listed = owner && std::any_of(out.begin(), out.end(), [&](const auto& app) {
                          return app.processIdentifier == *owner;
                        });
    // The name is one per session bus, which may serve several displays of
    // the user: its holder counts only when it serves this one.
    const bool sameSession =
        owner && (!ownSession || sessionOf(std::to_string(*owner)) == ownSession);
    if (owner && *owner > 0 && *owner != ::getpid() && !listed && sameSession) {
      bool named = true;
      if (handles_ && !handles_->holds(*owner)) {
        // Held, then asked again, so that the handle names the holder.
        named = handles_->hold(*owner);
        if (named && identityOwner_() != owner) {
          handles_->release(*owner);
          named = false;
        }
      }
      if (named) {
        RunningApplication app;
        app.processIdentifier = *owner;
        app.bundleIdentifier = bundleIdentifier_;
        if (std::optional<std::string> path =
                readLink(procRoot_ + "/" + std::to_string(*owner) + "/exe")) {
          app.bundlePath = withoutDeletedMark(*path);
          app.localizedName = std::filesystem::path(*app.bundlePath).filename().string();
        }
        out.push_back(std::move(app));
      }
    }
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
  if (!handles_) return ::kill(processIdentifier, SIGTERM) == 0;
  return handles_->signal(processIdentifier, SIGTERM) == 0;
}

}  // namespace dravel::linux_platform
