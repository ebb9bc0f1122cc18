// Overlay mode of the main window: a borderless, transparent window covering
// one screen above everything else, and back to the normal window.
#include "channels/log.h"
#include "host/main_flutter_window.h"
#include "platform/seam/platform.h"

namespace dravel {
namespace {

constexpr uint64_t kOverlayStyleMask = kWindowStyleBorderless;
// The screen-saver window level.
constexpr int64_t kOverlayLevel = 1000;
constexpr uint64_t kOverlayCollection = kCollectionCanJoinAllSpaces | kCollectionStationary |
                                        kCollectionIgnoresCycle | kCollectionFullScreenAuxiliary;
static_assert(kOverlayCollection == 337);
constexpr double kOverlayAlpha = 1.0;

constexpr uint64_t kLeftButtonBit = 1u << 0;
constexpr uint64_t kRightButtonBit = 1u << 1;

}  // namespace

void MainFlutterWindow::enterOverlay(const ScreenPtr& screen) {
  if (!overlayActive) {
    savedFrame = native_->frame();
    savedStyleMask = native_->styleMask();
    savedLevel = native_->level();
    savedCollection = native_->collectionBehavior();
    savedViewBackground =
        flutterViewController_ ? flutterViewController_->backgroundColor() : std::nullopt;
    overlayActive = true;
  }
  // Through the window's own rule: a window still at alpha 0 becomes opaque.
  orderOut();

  Application& application = platform().application();
  if (application.activationPolicy() == kActivationPolicyRegular) {
    application.setActivationPolicy(kActivationPolicyAccessory);
  }

  native_->setStyleMask(kOverlayStyleMask);
  native_->setLevel(kOverlayLevel);
  native_->setCollectionBehavior(kOverlayCollection);
  native_->setHasShadow(false);
  native_->setMovable(false);
  native_->setOpaque(false);
  native_->setBackgroundColor(Color::clear());
  if (flutterViewController_) flutterViewController_->setBackgroundColor(Color::clear());
  native_->setAlphaValue(kOverlayAlpha);
  if (screen) native_->setFrame(screen->frame(), true);
  native_->makeKeyAndOrderFront();
  application.activateIgnoringOtherApps(true);
  platform().input().setCursorHiddenUntilMouseMoves(true);
}

void MainFlutterWindow::exitOverlay() {
  if (!overlayActive) return;
  overlayActive = false;

  if (flutterViewController_) {
    // A button still held when the overlay goes would stay pressed in the
    // interface: send it its release. Left before right; others are left alone.
    Input& input = platform().input();
    const uint64_t pressed = input.pressedMouseButtons();
    const Point location = native_->mouseLocationOutsideOfEventStream();
    struct Release {
      uint64_t bit;
      int type;
      int button;
    };
    for (const Release& release :
         {Release{kLeftButtonBit, kLeftMouseUp, 1}, Release{kRightButtonBit, kRightMouseUp, 2}}) {
      if (!(pressed & release.bit)) continue;
      std::optional<MouseEvent> event = input.mouseEvent(
          release.type, location, 0, input.systemUptime(), native_->windowNumber(), 0, 1, 0.0);
      if (!event) continue;
      NSLog("[overlay] releasing stuck mouse button %d", release.button);
      if (release.type == kLeftMouseUp) {
        flutterViewController_->mouseUp(*event);
      } else {
        flutterViewController_->rightMouseUp(*event);
      }
    }
  }

  orderOut();
  native_->setStyleMask(savedStyleMask);
  native_->setLevel(savedLevel);
  native_->setCollectionBehavior(savedCollection);
  native_->setHasShadow(true);
  native_->setMovable(true);
  native_->setOpaque(true);
  native_->setBackgroundColor(Color::windowBackground());
  if (flutterViewController_) flutterViewController_->setBackgroundColor(savedViewBackground);
  native_->setFrame(savedFrame, false);
}

void MainFlutterWindow::freezeOverlay() {
  if (!overlayActive) return;
  native_->setOpaque(true);
  native_->setBackgroundColor(Color::black());
}

void MainFlutterWindow::setOverlayBelowMenus(bool below) {
  if (!overlayActive) return;
  native_->setLevel(below ? platform().graphics().windowLevelForKey(kPopUpMenuWindowLevelKey) - 1
                          : kOverlayLevel);
}

}  // namespace dravel
