// Process services of a Linux system: signals and /proc.
#pragma once

#include <optional>
#include <string>

#include "platform/process_control.h"

namespace dravel::linux_platform {

class LinuxProcessControl : public ProcessControl {
 public:
  // kill(pid, 0): gone only when it fails with ESRCH.
  bool isAlive(int pid) override;
  // kill(pid, SIGKILL).
  void forceEnd(int pid) override;
  // From /proc/PID/status: a non-zero TracerPid, or the state "T (stopped)"
  // or "t (tracing stop)".
  bool isTracedOrStopped(int pid) override;
  // exit(status).
  [[noreturn]] void exitProcess(int status) override;
};

// What isTracedOrStopped reads from the text of /proc/PID/status; false when
// the text has neither field.
bool statusShowsTracedOrStopped(const std::string& statusText);

}  // namespace dravel::linux_platform
