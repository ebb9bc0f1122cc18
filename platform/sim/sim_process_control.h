// Simulated processes: how each other process answers a quit request, a
// debugger or a stop, and a forced end; and this process's own exit, which is
// recorded instead of taken.
#pragma once

#include <map>
#include <memory>
#include <optional>
#include <vector>

#include "platform/seam/process_control.h"

namespace dravel::sim {

class SimRunningApplications;

struct SimProcess {
  int pid = 0;
  bool alive = true;
  // Seconds after a quit request until the process has quit; negative when
  // it ignores the request.
  double quitAfterTerminate = 0;
  // A debugger is attached; a forced end only pauses the process.
  bool traced = false;
  // Stopped by a signal.
  bool stopped = false;
  // Signals are refused for lack of permission: the process counts as alive
  // and cannot be ended from here.
  bool permissionDenied = false;
  int terminateRequests = 0;
};

class SimProcessControl : public ProcessControl {
 public:
  explicit SimProcessControl(SimRunningApplications& apps);
  ~SimProcessControl() override;

  bool isAlive(int pid) override;
  void forceEnd(int pid) override;
  bool isTracedOrStopped(int pid) override;
  void exitProcess(int status) override { exitStatus = status; }

  // A polite quit request reached the process.
  void terminateRequested(int pid);
  // The process ends now (it quits, or its debugger lets it go). It leaves the
  // list of running applications.
  void end(int pid);
  // The process's entry; a pid seen for the first time gets the default
  // behaviour (quits at once when asked), alive when it is listed among the
  // running applications.
  SimProcess& process(int pid);

  std::map<int, SimProcess> processes;
  // Every forced end sent, in order.
  std::vector<int> forcedEnds;
  std::optional<int> exitStatus;

 private:
  SimRunningApplications& apps_;
  std::shared_ptr<int> alive_ = std::make_shared<int>(0);
};

}  // namespace dravel::sim
