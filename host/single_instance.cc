// One running copy at a time.
#include <memory>
#include <optional>

#include "channels/log.h"
#include "channels/main_queue.h"
#include "host/app_delegate.h"
#include "platform/seam/platform.h"

namespace dravel {

namespace {

constexpr double kGracePeriod = 2.0;
constexpr double kFinalCheckDelay = 1.0;
constexpr double kDebuggerAlertTick = 0.5;

using Copies = std::vector<RunningApplication>;

// How the logs name a copy.
std::string logPath(const RunningApplication& copy) {
  return copy.bundlePath.value_or("?");
}

std::vector<int> alive(const std::vector<int>& pids) {
  std::vector<int> out;
  for (int pid : pids)
    if (platform().processControl().isAlive(pid)) out.push_back(pid);
  return out;
}

void finalCheck(const std::vector<int>& survivors, const Copies& others) {
  const std::vector<int> remaining = alive(survivors);
  if (remaining.empty()) return;
  std::vector<int> debugged;
  std::string paths;
  for (int pid : remaining) {
    if (platform().processControl().isTracedOrStopped(pid)) debugged.push_back(pid);
    if (!paths.empty()) paths += "\n";
    paths += AppDelegate::pathOf(pid, others);
  }
  if (!debugged.empty()) {
    AppDelegate::showDebuggerAlert(debugged, paths);
  } else {
    AppDelegate::showSurvivorAlert(paths);
  }
}

void graceCheck(const std::vector<int>& asked, const Copies& others) {
  const std::vector<int> survivors = alive(asked);
  if (survivors.empty()) return;
  for (int pid : survivors) {
    NSLog("[SingleInstance] pid=%d survived terminate, SIGKILL", pid);
    platform().processControl().forceEnd(pid);
  }
  mainQueue().asyncAfter(kFinalCheckDelay, [survivors, others] { finalCheck(survivors, others); });
}

}  // namespace

void AppDelegate::terminateOtherInstances() {
  Platform& p = platform();
  const std::optional<std::string> bundleIdentifier = p.processInfo().bundleIdentifier();
  if (!bundleIdentifier) return;
  const int ownPid = p.processInfo().processIdentifier();
  Copies others;
  for (auto& app :
       p.runningApplications().runningApplicationsWithBundleIdentifier(*bundleIdentifier)) {
    // Entries with a pid of 0 or below are skipped: such an entry names no
    // process, and signalling it would reach a whole process group (0) or
    // every process the user may signal (-1), so it is never asked to quit,
    // probed or killed.
    if (app.processIdentifier <= 0 || app.processIdentifier == ownPid) continue;
    others.push_back(app);
  }
  if (others.empty()) return;

  // A copy held by a debugger (or stopped) cannot be closed: it wins.
  for (auto& copy : others) {
    if (p.processControl().isTracedOrStopped(copy.processIdentifier)) {
      NSLog("[SingleInstance] pid=%d is under debugger at %s - yielding", copy.processIdentifier,
            logPath(copy).c_str());
      p.processControl().exitProcess(0);
      return;
    }
  }

  std::vector<int> asked;
  for (auto& copy : others) {
    NSLog("[SingleInstance] terminating stale copy pid=%d at %s", copy.processIdentifier,
          logPath(copy).c_str());
    p.runningApplications().terminate(copy.processIdentifier);
    asked.push_back(copy.processIdentifier);
  }
  mainQueue().asyncAfter(kGracePeriod, [asked, others] { graceCheck(asked, others); });
}

std::string AppDelegate::pathOf(int pid, const std::vector<RunningApplication>& others) {
  for (auto& copy : others) {
    if (copy.processIdentifier != pid) continue;
    if (copy.bundlePath) return *copy.bundlePath;
    break;
  }
  return "pid " + std::to_string(pid);
}

void AppDelegate::showDebuggerAlert(const std::vector<int>& pids, const std::string& paths) {
  if (debuggerAlertShown) return;
  debuggerAlertShown = true;

  AlertContent alert;
  alert.style = kAlertStyleWarning;
  alert.messageText = "Another copy of Dravel is running under the Xcode debugger";
  alert.informativeText =
      std::string(
          "Our quit signal paused it in Xcode (\"Thread 1: signal SIGKILL\"); a process under the "
          "debugger cannot be closed from outside. Press Continue or Stop in Xcode: this dialog "
          "closes by itself once ") +
      "that copy exits, and the hotkeys start working here.\n" + paths;
  alert.buttons = {"OK"};

  // Ticks only while the alert's modal run lasts.
  MainQueue& queue = mainQueue();
  auto timer = std::make_shared<std::optional<TimerId>>();
  *timer = queue.addModalTimer(kDebuggerAlertTick, [timer, pids, &queue] {
    if (!*timer) return;
    for (int pid : pids)
      if (platform().processControl().isAlive(pid)) return;
    queue.cancelTimer(**timer);
    timer->reset();
    NSLog("[SingleInstance] debugged copy exited, closing alert");
    platform().alerts().abortModal();
  });

  platform().application().activateIgnoringOtherApps(true);
  platform().alerts().runModal(alert);
  if (*timer) {
    queue.cancelTimer(**timer);
    timer->reset();
  }
}

void AppDelegate::showSurvivorAlert(const std::string& paths) {
  AlertContent alert;
  alert.style = kAlertStyleWarning;
  alert.messageText = "Another copy of Dravel is running";
  alert.informativeText = std::string("It could not be closed automatically. ") +
                          "Two copies fight over the hotkeys. Quit it manually:\n" + paths;
  alert.buttons = {"OK"};
  platform().application().activateIgnoringOtherApps(true);
  platform().alerts().runModal(alert);
}

}  // namespace dravel
