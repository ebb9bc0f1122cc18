// The simulated window server's list and running applications.
#pragma once

#include <functional>
#include <optional>
#include <vector>

#include "platform/seam/running_applications.h"
#include "platform/seam/window_list.h"

namespace dravel::sim {

class SimDesktop;

class SimWindowList : public WindowList {
 public:
  std::optional<Value> copyWindowInfo(uint32_t option, uint32_t relativeToWindow) override {
    ++reads;
    lastOption = option;
    lastRelativeTo = relativeToWindow;
    if (unreadable) return std::nullopt;
    return Value(currentEntries());
  }

  // What the window server lists now, front to back: the host's main window
  // first while it is on screen, then `entries`; at most
  // kMaxWindowListEntries of them, their titles and owner names cut to
  // kMaxWindowTitleBytes.
  ValueList currentEntries() const;
  // The main window's entry, absent while it is off screen.
  std::optional<ValueMap> mainWindowEntry() const;

  // Raw entries of the other applications' windows, front to back; anything
  // at all may be put here.
  ValueList entries;
  // The desktop whose main window is listed; set by the desktop.
  SimDesktop* desktop = nullptr;
  bool unreadable = false;
  int reads = 0;
  uint32_t lastOption = 0;
  uint32_t lastRelativeTo = 0;
};

class SimRunningApplications : public RunningApplications {
 public:
  std::vector<RunningApplication> runningApplications() override { return apps; }
  std::vector<RunningApplication> runningApplicationsWithBundleIdentifier(
      const std::string& bundleIdentifier) override {
    std::vector<RunningApplication> out;
    for (auto& app : apps)
      if (app.bundleIdentifier == bundleIdentifier) out.push_back(app);
    return out;
  }
  bool terminate(int processIdentifier) override {
    terminateRequests.push_back(processIdentifier);
    if (onTerminate) onTerminate(processIdentifier);
    return true;
  }

  std::vector<RunningApplication> apps;
  std::vector<int> terminateRequests;
  // Passes a quit request on to the simulated process.
  std::function<void(int processIdentifier)> onTerminate;
};

}  // namespace dravel::sim
