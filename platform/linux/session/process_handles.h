// Handles (pidfds) on other processes. A process id names whichever process
// holds it now; once a process has ended and been reaped, its id can be
// given to a new one. A handle opened while the process was known to be the
// right one keeps naming that process: signals sent through it reach it or
// fail with "no such process", never a stranger that got the id since.
#pragma once

#include <map>

namespace dravel::linux_platform {

class ProcessHandles {
 public:
  ProcessHandles() = default;
  ~ProcessHandles();
  ProcessHandles(const ProcessHandles&) = delete;
  ProcessHandles& operator=(const ProcessHandles&) = delete;

  // Opens a handle on `pid` unless one is held. False when the process is
  // gone or the system has no process handles.
  bool hold(int pid);
  bool holds(int pid) const { return fds_.count(pid) != 0; }
  void release(int pid);

  // Sends `signal` (0 only probes) to the process: through its handle when
  // one is held, else by its id. 0 when sent, else the errno (ESRCH: the
  // process is gone, and its handle is released).
  int signal(int pid, int signal);

 private:
  std::map<int, int> fds_;
};

}  // namespace dravel::linux_platform
