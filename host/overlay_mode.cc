#include "host/main_flutter_window.h"

namespace dravel {

// Overlay mode comes with the capture overlay work.
void MainFlutterWindow::enterOverlay(const ScreenPtr&) {}
void MainFlutterWindow::exitOverlay() {}
void MainFlutterWindow::freezeOverlay() {}
void MainFlutterWindow::setOverlayBelowMenus(bool) {}

}  // namespace dravel
