#include "channels/socket_path.h"

#include <errno.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <unistd.h>

#include <cstdlib>
#include <cstring>

#include "channels/log.h"

namespace dravel {
namespace {

std::string errnoText(int err) {
  return std::strerror(err);
}

enum class Listener { kLive, kFrozen, kNone };

// Tells a live host from a stale socket file by connecting, without
// blocking: a host whose queue of connections is full (a stopped one) makes
// connect fail with EAGAIN, tried again until `patience` has passed.
Listener someoneListens(const std::string& path, std::chrono::milliseconds patience, int* err) {
  const auto deadline = std::chrono::steady_clock::now() + patience;
  for (;;) {
    int fd = ::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0);
    if (fd < 0) {
      *err = errno;
      return Listener::kNone;
    }
    sockaddr_un addr{};
    addr.sun_family = AF_UNIX;
    std::memcpy(addr.sun_path, path.c_str(), path.size() + 1);
    const int rc = ::connect(fd, reinterpret_cast<sockaddr*>(&addr), sizeof addr);
    *err = rc == 0 ? 0 : errno;
    ::close(fd);
    if (rc == 0) return Listener::kLive;
    if (*err != EAGAIN) return Listener::kNone;
    if (std::chrono::steady_clock::now() >= deadline) return Listener::kFrozen;
    ::usleep(50 * 1000);
  }
}

}  // namespace

std::string defaultSocketPath() {
  const char* runtime = std::getenv("XDG_RUNTIME_DIR");
  if (runtime && runtime[0] == '/') return std::string(runtime) + "/dravel/host.sock";
  const char* tmp = std::getenv("TMPDIR");
  std::string base = tmp && tmp[0] == '/' ? tmp : "/tmp";
  return base + "/dravel-" + std::to_string(::geteuid()) + "/host.sock";
}

std::string sandboxSocketPath(const std::string& appId) {
  const char* runtime = std::getenv("XDG_RUNTIME_DIR");
  if (!runtime || runtime[0] != '/' || appId.empty()) return "";
  return std::string(runtime) + "/app/" + appId + "/host.sock";
}

bool someoneListensAt(const std::string& path) {
  if (path.empty() || path.size() >= sizeof(sockaddr_un::sun_path)) return false;
  int err = 0;
  return someoneListens(path, std::chrono::milliseconds(0), &err) != Listener::kNone;
}

std::string parentFolder(const std::string& path) {
  size_t slash = path.rfind('/');
  if (slash == std::string::npos) return ".";
  if (slash == 0) return "/";
  return path.substr(0, slash);
}

std::optional<std::string> prepareSocketPath(const std::string& path, bool strictFolder,
                                             std::chrono::milliseconds patience) {
  const bool strict = strictFolder || path == defaultSocketPath();
  const std::string folder = parentFolder(path);
  struct stat st {};
  if (::stat(folder.c_str(), &st) != 0) {
    if (errno != ENOENT) return "cannot use folder " + folder + ": " + errnoText(errno);
    if (::mkdir(folder.c_str(), 0700) != 0 && errno != EEXIST) {
      return "cannot create folder " + folder + ": " + errnoText(errno);
    }
    if (::stat(folder.c_str(), &st) != 0)
      return "cannot use folder " + folder + ": " + errnoText(errno);
  }
  if (!S_ISDIR(st.st_mode)) return folder + " is not a folder";
  if (strict) {
    // Not through a link someone else may have planted.
    if (::lstat(folder.c_str(), &st) != 0 || !S_ISDIR(st.st_mode)) {
      return "folder " + folder + " is a link or cannot be read";
    }
    // In a shared temporary directory someone else may have made the folder first.
    if (st.st_uid != ::geteuid()) return "folder " + folder + " belongs to another user";
    if ((st.st_mode & 0077) != 0 && ::chmod(folder.c_str(), 0700) != 0) {
      return "cannot make folder " + folder + " private: " + errnoText(errno);
    }
  }

  if (::lstat(path.c_str(), &st) == 0) {
    if (!S_ISSOCK(st.st_mode)) return path + " exists and is not a socket";
    int err = 0;
    switch (someoneListens(path, patience, &err)) {
      case Listener::kLive:
        return "another host is already serving " + path;
      case Listener::kFrozen:
        return "another host holds " + path +
               " but takes no connections (it may be stopped or hung)";
      case Listener::kNone:
        break;
    }
    if (err != ECONNREFUSED && err != ENOENT) {
      return "cannot tell whether a host serves " + path + ": " + errnoText(err);
    }
    if (::unlink(path.c_str()) != 0 && errno != ENOENT) {
      return "cannot remove the stale socket " + path + ": " + errnoText(errno);
    }
    NSLog("[socket] replaced a stale socket at %s", path.c_str());
  }
  return std::nullopt;
}

}  // namespace dravel
