#include "platform/sim/sim_process_control.h"

#include <algorithm>
#include <climits>
#include <cmath>

#include "channels/main_queue.h"
#include "platform/sim/scenario_registry.h"
#include "platform/sim/section_fields.h"
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

// A number of seconds of either kind, finite and at most kMaxScriptedDelay
// either way; absent when missing.
std::optional<double> seconds(const Value& map, SectionFields& fields, const char* key) {
  const Value* v = map.at(key);
  if (!v) return std::nullopt;
  std::optional<double> d = v->asDouble();
  if (auto i = v->asInt()) d = static_cast<double>(*i);
  if (d && std::isfinite(*d) && std::fabs(*d) <= kMaxScriptedDelay) return d;
  fields.fail(key, "a number of seconds from -" + describeNumber(kMaxScriptedDelay) + " to " +
                       describeNumber(kMaxScriptedDelay) +
                       (d ? ", got " + describeNumber(*d) : std::string()));
  return std::nullopt;
}

// "processes": a list of {"pid": int, "quitAfterTerminate": seconds (negative
// ignores the request), "ignoresTerminate": bool, "traced": bool, "stopped":
// bool, "permissionDenied": bool, "alive": bool}. Reported as a map with the
// entries, the forced ends and this process's exit status.
const SectionRegistrar kProcessesSection{checkedSection(
    "processes",
    [](const Value& value, SimDesktop* desktop) -> std::string {
      const ValueList* list = value.asList();
      if (!list) return "expected a list";
      std::vector<SimProcess> loaded;
      for (size_t i = 0; i < list->size(); ++i) {
        std::string where = "[";
        where += std::to_string(i);
        where += "]";
        const Value& entry = (*list)[i];
        SectionFields fields(entry, where);
        auto pid = fields.integer("pid");
        if (fields.ok() && (!pid || *pid > INT_MAX || *pid < INT_MIN))
          fields.fail("pid", "a process id");
        auto quitAfter = seconds(entry, fields, "quitAfterTerminate");
        auto ignores = fields.boolean("ignoresTerminate");
        auto traced = fields.boolean("traced");
        auto stopped = fields.boolean("stopped");
        auto denied = fields.boolean("permissionDenied");
        auto alive = fields.boolean("alive");
        if (!fields.ok()) return fields.error();
        SimProcess p;
        p.pid = static_cast<int>(*pid);
        p.alive = alive.value_or(true);
        p.quitAfterTerminate = ignores.value_or(false) ? -1 : quitAfter.value_or(0);
        p.traced = traced.value_or(false);
        p.stopped = stopped.value_or(false);
        p.permissionDenied = denied.value_or(false);
        loaded.push_back(p);
      }
      if (!desktop) return "";
      auto& control = desktop->processControl();
      control.processes.clear();
      control.forcedEnds.clear();
      control.exitStatus.reset();
      for (auto& p : loaded) control.processes[p.pid] = p;
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
    200)};

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
