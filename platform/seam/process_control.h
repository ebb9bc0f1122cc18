// Other processes by their id, and this process's own end.
#pragma once

namespace dravel {

class ProcessControl {
 public:
  virtual ~ProcessControl() = default;
  // The liveness probe: false only when no such process exists. A process
  // that cannot be signalled for lack of permission counts as alive.
  virtual bool isAlive(int pid) = 0;
  // Ends a process by force (SIGKILL). The result is not reported.
  virtual void forceEnd(int pid) = 0;
  // Whether a debugger is attached to the process or it stands stopped by a
  // signal. A failed query counts as neither.
  virtual bool isTracedOrStopped(int pid) = 0;
  // Ends this process with the given status. The simulated desktop records
  // the status and returns, so callers return right after it.
  virtual void exitProcess(int status) = 0;
};

}  // namespace dravel
