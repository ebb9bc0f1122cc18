#include "platform/linux/session/process_handles.h"

#include <sys/syscall.h>
#include <unistd.h>

#include <cerrno>
#include <csignal>

namespace dravel::linux_platform {

namespace {

// The system calls themselves (Linux 5.3 and later): the C library's
// header for them declares no C linkage for C++.
int openHandle(int pid) { return static_cast<int>(::syscall(SYS_pidfd_open, pid, 0u)); }
int sendThroughHandle(int fd, int signal) {
  return static_cast<int>(::syscall(SYS_pidfd_send_signal, fd, signal, nullptr, 0u));
}

}  // namespace

ProcessHandles::~ProcessHandles() {
  for (auto& [pid, fd] : fds_) ::close(fd);
}

bool ProcessHandles::hold(int pid) {
  if (pid <= 0) return false;
  if (holds(pid)) return true;
  const int fd = openHandle(pid);
  if (fd < 0) return false;
  fds_[pid] = fd;
  return true;
}

void ProcessHandles::release(int pid) {
  auto found = fds_.find(pid);
  if (found == fds_.end()) return;
  ::close(found->second);
  fds_.erase(found);
}

int ProcessHandles::signal(int pid, int signal) {
  if (pid <= 0) return EINVAL;  // would address a process group
  auto found = fds_.find(pid);
  if (found == fds_.end()) return ::kill(pid, signal) == 0 ? 0 : errno;
  if (sendThroughHandle(found->second, signal) == 0) return 0;
  const int error = errno;
  if (error == ESRCH) release(pid);
  return error;
}

}  // namespace dravel::linux_platform
