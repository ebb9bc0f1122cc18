// The application delegate: launch, quit and reopen policies, one running copy.
#pragma once

#include <memory>

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

  // Ends earlier copies of the application.
  void terminateOtherInstances();

 private:
  void reopenCheck();
};

}  // namespace dravel
