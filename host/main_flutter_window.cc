#include "host/main_flutter_window.h"

#include "host/dravel_plugin.h"
#include "host/generated_plugin_registrant.h"
#include "host/notifications_plugin.h"
#include "host/sparkle_updater_plugin.h"
#include "platform/seam/platform.h"

namespace dravel {

namespace {
// Height of the strip at the top of the content where a left-button press
// goes straight to the interface (its own title bar area).
constexpr double kTopStripHeight = 60.0;
}  // namespace

MainFlutterWindow::MainFlutterWindow(std::unique_ptr<NativeWindow> native)
    : native_(std::move(native)), sparkleUpdater_(std::make_unique<SparkleUpdaterPlugin>()) {
  native_->setEventDispatcher([this](const MouseEvent& event) { sendEvent(event); });
  NativeWindowOverrides overrides;
  overrides.close = [this] { close(); };
  overrides.orderOut = [this] { orderOut(); };
  overrides.canBecomeKey = [this] { return canBecomeKey(); };
  native_->setOverrides(std::move(overrides));
}

MainFlutterWindow::~MainFlutterWindow() {
  native_->setEventDispatcher(nullptr);
  native_->setOverrides({});
  native_->setContentViewController(nullptr);
}

void MainFlutterWindow::awakeFromNib() {
  flutterViewController_ = platform().embedding().createFlutterViewController();
  const Rect windowFrame = native_->frame();
  native_->setContentViewController(flutterViewController_.get());
  native_->setFrame(windowFrame, true);

  registerGeneratedPlugins(*flutterViewController_);

  FlutterBinaryMessenger& messenger = flutterViewController_->binaryMessenger();
  DravelPlugin::registerWith(messenger, weak_from_this());

  sparkleUpdater_->start();
  sparkleUpdater_->registerWith(messenger);

  NotificationsPlugin::shared().registerWith(messenger);

  orderOut();
  native_->setAlphaValue(0.0);
}

void MainFlutterWindow::sendEvent(const MouseEvent& event) {
  if (!flutterViewController_ || overlayActive) {
    native_->sendEventInherited(event);
    return;
  }
  std::optional<Rect> content = native_->contentViewFrame();
  if (native_->hasAttachedSheet() || !content) {
    native_->sendEventInherited(event);
    return;
  }
  const double top = content->maxY();
  const double y = event.locationInWindow.y;
  if (top > y && y > top - kTopStripHeight) {
    switch (event.type) {
      case kLeftMouseDown:
        flutterViewController_->mouseDown(event);
        return;
      case kLeftMouseUp:
        flutterViewController_->mouseUp(event);
        return;
      case kLeftMouseDragged:
        flutterViewController_->mouseDragged(event);
        return;
      default:
        break;
    }
  }
  native_->sendEventInherited(event);
}

void MainFlutterWindow::close() {
  orderOut();
}

void MainFlutterWindow::orderOut() {
  native_->orderOut();
  if (native_->alphaValue() == 0.0) native_->setAlphaValue(1.0);
}

}  // namespace dravel
