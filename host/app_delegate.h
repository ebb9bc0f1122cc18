// The application delegate: launch, quit and reopen policies, one running copy.
#pragma once

#include <memory>
#include <string>
#include <vector>

#include "platform/seam/running_applications.h"

namespace dravel {

class MainFlutterWindow;

class AppDelegate : public std::enable_shared_from_this<AppDelegate> {
 public:
  // The main window, connected by the interface file.
  std::weak_ptr<MainFlutterWindow> mainFlutterWindow;

  // Runs before the application finishes launching.
  void applicationWillFinishLaunching();
  // The application keeps running without windows, as a tray application.
  bool applicationShouldTerminateAfterLastWindowClosed() const { return false; }
  bool applicationSupportsSecureRestorableState() const { return true; }
  // A reopen (a click on the application's icon). Always true; with no
  // visible window, shows the main window 0.3 s later unless the reopen came
  // from a notification click.
  bool applicationShouldHandleReopen(bool hasVisibleWindows);

  // Ends the other running copies of the application: asks them to quit,
  // forces the ones that did not 2.0 s later, and tells the user about
  // copies that survive 1.0 s after that. Yields (ends this process with
  // status 0) to a copy that runs under a debugger or stands stopped.
  void terminateOtherInstances();

  // The path shown for a copy in the alerts: its bundle's path, or "pid N"
  // when the pid is not among `others` or has no bundle location.
  static std::string pathOf(int pid, const std::vector<RunningApplication>& others);
  // Shown at most once per process; closes by itself once every pid in
  // `pids` is gone.
  static void showDebuggerAlert(const std::vector<int>& pids, const std::string& paths);
  static void showSurvivorAlert(const std::string& paths);

  // Set when the debugger alert is first shown; never reset in a process.
  static inline bool debuggerAlertShown = false;

 private:
  void reopenCheck();
};

}  // namespace dravel
