// Process services of a Linux system: signals and /proc.
#pragma once

#include <memory>
#include <optional>
#include <string>

#include "platform/linux/session/process_handles.h"

#include "platform/seam/process_control.h"

namespace dravel::linux_platform {

class LinuxProcessControl : public ProcessControl {
 public:
  // Signals go through the handles held in `handles` (shared with the
  // running-applications service, which opens them when it lists copies);
  // processes without one are signalled by id.
  explicit LinuxProcessControl(std::shared_ptr<ProcessHandles> handles = nullptr)
      : handles_(handles ? std::move(handles) : std::make_shared<ProcessHandles>()) {}

  // A probe (signal 0): gone only when it fails with ESRCH.
  bool isAlive(int pid) override;
  // SIGKILL.
  void forceEnd(int pid) override;
  // From /proc/PID/status: a non-zero TracerPid, or the state "T (stopped)"
  // or "t (tracing stop)".
  bool isTracedOrStopped(int pid) override;
  // exit(status).
  [[noreturn]] void exitProcess(int status) override;

 private:
  std::shared_ptr<ProcessHandles> handles_;
};

// What isTracedOrStopped reads from the text of /proc/PID/status; false when
// the text has neither field.
bool statusShowsTracedOrStopped(const std::string& statusText);

}  // namespace dravel::linux_platform
