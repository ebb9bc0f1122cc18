#include "host/launch.h"

#include "host/app_delegate.h"
#include "host/main_flutter_window.h"
#include "platform/seam/platform.h"

namespace dravel {

LaunchedHost launchHost() {
  LaunchedHost host;
  host.delegate = std::make_shared<AppDelegate>();
  host.window = std::make_shared<MainFlutterWindow>(platform().createMainWindow());
  host.window->awakeFromNib();
  host.delegate->mainFlutterWindow = host.window;
  host.delegate->applicationWillFinishLaunching();
  return host;
}

}  // namespace dravel
