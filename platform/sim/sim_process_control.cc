#include "platform/sim/sim_process_control.h"

#include <algorithm>

#include "channels/main_queue.h"
#include "platform/sim/scenario_registry.h"
#include "platform/sim/sim_desktop.h"

namespace dravel::sim {

SimProcessControl::SimProcessControl(SimRunningApplications& apps) : apps_(apps) {}
SimProcessControl::~SimProcessControl() = default;

SimProcess& SimProcessControl::process(int pid) {
  auto it = processes.find(pid);
  if (it != processes.end()) return it->second;
  SimProcess p;
  p.pid = pid;
  p.alive = std::any_of(apps_.apps.begin(), apps_.apps.end(),
                        [pid](const RunningApplication& a) { return a.processIdentifier == pid; });
  return processes.emplace(pid, p).first->second;
}

bool SimProcessControl::isAlive(int pid) {
  return process(pid).alive;
}

void SimProcessControl::forceEnd(int pid) {
  forcedEnds.push_back(pid);
  SimProcess& p = process(pid);
  if (!p.alive || p.permissionDenied) return;
  // The debugger catches the signal and holds the process paused.
  if (p.traced) {
    p.stopped = true;
    return;
  }
  end(pid);
}

bool SimProcessControl::isTracedOrStopped(int pid) {
  SimProcess& p = process(pid);
  return p.alive && (p.traced || p.stopped);
}

void SimProcessControl::terminateRequested(int pid) {
  SimProcess& p = process(pid);
  ++p.terminateRequests;
  if (!p.alive || p.permissionDenied || p.quitAfterTerminate < 0) return;
  // A stopped process cannot act on the request until it runs again.
  if (p.traced || p.stopped) return;
  if (p.quitAfterTerminate == 0) {
    end(pid);
    return;
  }
  std::weak_ptr<int> alive = alive_;
  mainQueue().asyncAfter(p.quitAfterTerminate, [this, alive, pid] {
    if (alive.lock()) end(pid);
  });
}

void SimProcessControl::end(int pid) {
  SimProcess& p = process(pid);
  p.alive = false;
  p.traced = false;
  p.stopped = false;
  std::erase_if(apps_.apps,
                [pid](const RunningApplication& a) { return a.processIdentifier == pid; });
}

namespace {

// "processes": a list of {"pid": int, "quitAfterTerminate": seconds (negative
// ignores the request), "ignoresTerminate": bool, "traced": bool, "stopped":
// bool, "permissionDenied": bool, "alive": bool}. Reported as a map with the
// entries, the forced ends and this process's exit status.
const SectionRegistrar kProcessesSection{{
    "processes",
    [](const Value& value, SimDesktop& desktop) -> std::string {
      auto* list = value.asList();
      if (!list) return "processes: expected a list";
      auto& control = desktop.processControl();
      control.processes.clear();
      control.forcedEnds.clear();
      control.exitStatus.reset();
      for (auto& entry : *list) {
        auto pid = entry.intAt("pid");
        if (!pid) return "processes: every entry needs an integer pid";
        SimProcess& p = control.process(static_cast<int>(*pid));
        p.alive = entry.boolAt("alive").value_or(true);
        if (auto q = entry.doubleAt("quitAfterTerminate")) p.quitAfterTerminate = *q;
        if (auto q = entry.intAt("quitAfterTerminate"))
          p.quitAfterTerminate = static_cast<double>(*q);
        if (entry.boolAt("ignoresTerminate").value_or(false)) p.quitAfterTerminate = -1;
        p.traced = entry.boolAt("traced").value_or(false);
        p.stopped = entry.boolAt("stopped").value_or(false);
        p.permissionDenied = entry.boolAt("permissionDenied").value_or(false);
      }
      return "";
    },
    [](SimDesktop& desktop) -> Value {
      auto& control = desktop.processControl();
      ValueList entries;
      for (auto& [pid, p] : control.processes) {
        entries.push_back(ValueMap{{"pid", p.pid},
                                   {"alive", p.alive},
                                   {"quitAfterTerminate", p.quitAfterTerminate},
                                   {"traced", p.traced},
                                   {"stopped", p.stopped},
                                   {"permissionDenied", p.permissionDenied},
                                   {"terminateRequests", p.terminateRequests}});
      }
      ValueList forced;
      for (int pid : control.forcedEnds) forced.push_back(Value(pid));
      ValueMap m{{"entries", entries}, {"forcedEnds", forced}};
      m.set("exitStatus", control.exitStatus ? Value(*control.exitStatus) : Value());
      return m;
    },
    // After the running applications, whose pids it refers to.
    200,
}};

// "endProcess": {"pid": int}: the process quits now (for a copy under a
// debugger: the developer pressed Stop). Answers whether it was alive.
const ActionRegistrar kEndProcess{{
    "endProcess",
    [](const Value& arguments, SimDesktop& desktop, FlutterResult result) {
      auto pid = arguments.argumentsOrEmpty().intAt("pid");
      if (!pid) {
        result(FlutterError::errorWithCode("bad_args", "pid expected"));
        return;
      }
      auto& control = desktop.processControl();
      const bool wasAlive = control.isAlive(static_cast<int>(*pid));
      control.end(static_cast<int>(*pid));
      result(Value(wasAlive));
    },
}};

}  // namespace

}  // namespace dravel::sim
