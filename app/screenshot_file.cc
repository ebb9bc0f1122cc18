#include "app/screenshot_file.h"

#include <fcntl.h>
#include <limits.h>
#include <signal.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>

namespace dravel {

namespace {

// The temporary file being written, removed by the signal handler: a fixed
// buffer, since the handler may only make async-signal-safe calls.
char gTemporary[PATH_MAX];
volatile sig_atomic_t gHasTemporary = 0;

void removeTemporaryAndDie(int signal) {
  if (gHasTemporary) unlink(gTemporary);
  struct sigaction action {};
  action.sa_handler = SIG_DFL;
  sigemptyset(&action.sa_mask);
  sigaction(signal, &action, nullptr);
  raise(signal);
}

void guardTemporary(const std::string& path) {
  static const bool installed = [] {
    struct sigaction action {};
    action.sa_handler = removeTemporaryAndDie;
    sigemptyset(&action.sa_mask);
    for (int signal : {SIGINT, SIGTERM, SIGHUP, SIGQUIT}) sigaction(signal, &action, nullptr);
    return true;
  }();
  (void)installed;
  gHasTemporary = 0;
  std::memcpy(gTemporary, path.c_str(), path.size() + 1);
  gHasTemporary = 1;
}

void unguardTemporary(const std::string& path) {
  if (gHasTemporary && path == gTemporary) gHasTemporary = 0;
}

std::string folderOf(const std::string& path) {
  const size_t slash = path.rfind('/');
  if (slash == std::string::npos) return ".";
  if (slash == 0) return "/";
  return path.substr(0, slash);
}

std::string nameOf(const std::string& path) {
  const size_t slash = path.rfind('/');
  return slash == std::string::npos ? path : path.substr(slash + 1);
}

bool refuse(std::string* why, std::string text) {
  if (why) *why = std::move(text);
  return false;
}

// A link to a file not made yet: the file's name in its folder, resolved,
// when that folder exists.
bool resolveNewFile(const std::string& link, char (&resolved)[PATH_MAX]) {
  if (errno != ENOENT) return false;
  char text[PATH_MAX];
  const ssize_t n = readlink(link.c_str(), text, sizeof text - 1);
  if (n <= 0) return false;
  std::string target(text, static_cast<size_t>(n));
  if (target[0] != '/') target = folderOf(link) + "/" + target;
  char folder[PATH_MAX];
  if (!realpath(folderOf(target).c_str(), folder)) return false;
  const std::string whole = std::string(folder) + "/" + nameOf(target);
  if (whole.size() >= PATH_MAX) return false;
  std::memcpy(resolved, whole.c_str(), whole.size() + 1);
  return true;
}

mode_t defaultMode() {
  const mode_t mask = umask(0);
  umask(mask);
  return 0666 & ~mask;
}

}  // namespace

std::unique_ptr<ScreenshotFile> ScreenshotFile::open(const std::string& path, std::string* why) {
  if (path.empty()) {
    refuse(why, "no file name given");
    return nullptr;
  }
  std::unique_ptr<ScreenshotFile> file(new ScreenshotFile());
  file->target_ = path;
  struct stat info {};
  bool exists = lstat(path.c_str(), &info) == 0;
  if (exists && S_ISLNK(info.st_mode)) {
    char resolved[PATH_MAX];
    if (!realpath(path.c_str(), resolved) && !resolveNewFile(path, resolved)) {
      refuse(why,
             path + " is a link to nothing that can be written (" + std::strerror(errno) + ")");
      return nullptr;
    }
    struct stat folder {};
    const std::string resolvedFolder = folderOf(resolved);
    if (stat(resolvedFolder.c_str(), &folder) != 0 || folder.st_uid != geteuid()) {
      refuse(why, path + " is a link into a folder of another user (" + resolvedFolder + ")");
      return nullptr;
    }
    file->target_ = resolved;
    exists = stat(resolved, &info) == 0;
  }
  if (exists && S_ISDIR(info.st_mode)) {
    refuse(why, path + " is a folder: name a file in it");
    return nullptr;
  }
  if (exists && !S_ISREG(info.st_mode)) {
    // A device or a pipe cannot be renamed over: written as it is.
    file->fd_ = ::open(file->target_.c_str(), O_WRONLY | O_TRUNC | O_CLOEXEC);
    if (file->fd_ < 0) {
      refuse(why, "cannot write " + path + ": " + std::strerror(errno));
      return nullptr;
    }
    return file;
  }
  file->mode_ = exists ? (info.st_mode & 07777) : defaultMode();
  const std::string folder = folderOf(file->target_);
  std::string temporary = folder + "/." + nameOf(file->target_) + ".XXXXXX";
  if (temporary.size() >= PATH_MAX) {
    refuse(why, "cannot write " + path + ": the name is too long");
    return nullptr;
  }
  file->fd_ = mkostemp(temporary.data(), O_CLOEXEC);
  if (file->fd_ < 0) {
    refuse(why, "cannot write in " + folder + ": " + std::strerror(errno));
    return nullptr;
  }
  file->temporary_ = temporary;
  guardTemporary(temporary);
  return file;
}

ScreenshotFile::~ScreenshotFile() {
  if (!committed_) discard();
}

void ScreenshotFile::discard() {
  if (fd_ >= 0) ::close(fd_);
  fd_ = -1;
  if (!temporary_.empty()) {
    unlink(temporary_.c_str());
    unguardTemporary(temporary_);
    temporary_.clear();
  }
}

bool ScreenshotFile::write(std::span<const uint8_t> bytes) {
  if (fd_ < 0) return false;
  while (!bytes.empty()) {
    const ssize_t n = ::write(fd_, bytes.data(), bytes.size());
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) {
      error_ = "cannot write " + target_ + ": " + std::strerror(n < 0 ? errno : EIO);
      return false;
    }
    bytes = bytes.subspan(static_cast<size_t>(n));
  }
  return true;
}

bool ScreenshotFile::commit() {
  if (fd_ < 0) return false;
  if (temporary_.empty()) {
    const bool closed = ::close(fd_) == 0;
    fd_ = -1;
    committed_ = closed;
    if (!closed) error_ = "cannot write " + target_ + ": " + std::strerror(errno);
    return closed;
  }
  const bool moded = fchmod(fd_, mode_) == 0;
  int failure = moded ? 0 : errno;
  if (::close(fd_) != 0 && failure == 0) failure = errno;
  fd_ = -1;
  if (failure != 0) {
    error_ = "cannot write " + target_ + ": " + std::strerror(failure);
    discard();
    return false;
  }
  if (rename(temporary_.c_str(), target_.c_str()) != 0) {
    error_ = "cannot write " + target_ + ": " + std::strerror(errno);
    discard();
    return false;
  }
  unguardTemporary(temporary_);
  temporary_.clear();
  committed_ = true;
  return true;
}

}  // namespace dravel
