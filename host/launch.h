// Start-up of the host, as the application's main entry and interface file do it.
#pragma once

#include <memory>

namespace dravel {

class AppDelegate;
class MainFlutterWindow;

struct LaunchedHost {
  std::shared_ptr<AppDelegate> delegate;
  std::shared_ptr<MainFlutterWindow> window;
};

// On the installed platform and main queue: makes the delegate and the main
// window, runs the window's start-up, connects the window to the delegate,
// then the delegate's will-finish-launching step.
LaunchedHost launchHost();

}  // namespace dravel
