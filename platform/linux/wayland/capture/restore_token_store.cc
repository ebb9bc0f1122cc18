#include "platform/linux/wayland/capture/restore_token_store.h"

#include <errno.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cctype>
#include <cstdlib>
#include <cstring>

namespace dravel::linux_platform {
namespace {

constexpr char kFileName[] = "screencast-restore-token";
// A UUID and a line end, with room to spare: anything longer is not a token.
constexpr size_t kMaxFileBytes = 64;

std::string parentOf(const std::string& path) {
  const size_t slash = path.rfind('/');
  if (slash == std::string::npos) return ".";
  return slash == 0 ? "/" : path.substr(0, slash);
}

// Makes `dir` and its missing parents (mode 0700); true when it is a folder
// of this user that no one else may write into.
bool ensureFolder(const std::string& dir, std::string* why) {
  struct stat st;
  if (lstat(dir.c_str(), &st) != 0) {
    if (errno != ENOENT) {
      *why = dir + ": " + std::strerror(errno);
      return false;
    }
    const std::string parent = parentOf(dir);
    if (parent != dir && !ensureFolder(parent, why)) return false;
    if (mkdir(dir.c_str(), 0700) != 0 && errno != EEXIST) {
      *why = "cannot make " + dir + ": " + std::strerror(errno);
      return false;
    }
    if (lstat(dir.c_str(), &st) != 0) {
      *why = dir + ": " + std::strerror(errno);
      return false;
    }
  }
  if (!S_ISDIR(st.st_mode)) {
    *why = dir + " is not a folder";
    return false;
  }
  return true;
}

}  // namespace

bool isUuid(std::string_view text) {
  if (text.size() != 36) return false;
  for (size_t i = 0; i < text.size(); ++i) {
    const bool dash = i == 8 || i == 13 || i == 18 || i == 23;
    if (dash ? text[i] != '-' : !std::isxdigit(static_cast<unsigned char>(text[i]))) return false;
  }
  return true;
}

RestoreTokenStore RestoreTokenStore::forUser() {
  const char* state = std::getenv("XDG_STATE_HOME");
  std::string dir;
  // The XDG rule: a relative path is not a state folder.
  if (state && state[0] == '/') {
    dir = state;
  } else if (const char* home = std::getenv("HOME"); home && home[0] == '/') {
    dir = std::string(home) + "/.local/state";
  } else {
    return RestoreTokenStore("");
  }
  return RestoreTokenStore(dir + "/dravel/" + kFileName);
}

std::optional<std::string> RestoreTokenStore::load() const {
  if (path_.empty()) return std::nullopt;
  const int fd = open(path_.c_str(), O_RDONLY | O_NOFOLLOW | O_CLOEXEC | O_NONBLOCK);
  if (fd < 0) return std::nullopt;
  struct stat st;
  std::optional<std::string> token;
  if (fstat(fd, &st) == 0 && S_ISREG(st.st_mode) && st.st_uid == getuid() &&
      (st.st_mode & 0077) == 0 && st.st_size > 0 &&
      static_cast<size_t>(st.st_size) <= kMaxFileBytes) {
    char bytes[kMaxFileBytes + 1];
    const ssize_t n = read(fd, bytes, sizeof(bytes));
    if (n > 0) {
      std::string_view text(bytes, static_cast<size_t>(n));
      if (!text.empty() && text.back() == '\n') text.remove_suffix(1);
      if (isUuid(text)) token = std::string(text);
    }
  }
  close(fd);
  return token;
}

bool RestoreTokenStore::save(const std::string& token, std::string* why) const {
  std::string ignored;
  if (!why) why = &ignored;
  if (!isUuid(token)) {
    *why = "the restore token is not a UUID";
    return false;
  }
  if (path_.empty()) {
    *why = "no state folder (neither XDG_STATE_HOME nor HOME is set)";
    return false;
  }
  const std::string dir = parentOf(path_);
  if (!ensureFolder(dir, why)) return false;
  struct stat st;
  if (lstat(dir.c_str(), &st) != 0 || st.st_uid != getuid()) {
    *why = dir + " is not this user's";
    return false;
  }
  // Nobody else may reach the token through the folder.
  if ((st.st_mode & 0077) != 0) chmod(dir.c_str(), 0700);

  const std::string temporary = path_ + ".new";
  unlink(temporary.c_str());
  const int fd =
      open(temporary.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0600);
  if (fd < 0) {
    *why = "cannot write " + temporary + ": " + std::strerror(errno);
    return false;
  }
  const std::string line = token + "\n";
  const bool written = write(fd, line.data(), line.size()) == static_cast<ssize_t>(line.size()) &&
                       fsync(fd) == 0;
  const int writeErrno = errno;
  close(fd);
  // rename() replaces a link or another user's file by this one, never
  // writing through it.
  if (!written || rename(temporary.c_str(), path_.c_str()) != 0) {
    *why = "cannot store the restore token in " + path_ + ": " +
           std::strerror(written ? errno : writeErrno);
    unlink(temporary.c_str());
    return false;
  }
  return true;
}

void RestoreTokenStore::clear() const {
  if (!path_.empty()) unlink(path_.c_str());
}

}  // namespace dravel::linux_platform
