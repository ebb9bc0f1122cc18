// The one main window: hosts the interface, registers the channels, starts
// hidden, and doubles as the full-screen capture overlay.
#pragma once

#include <memory>
#include <optional>

#include "platform/seam/embedding.h"
#include "platform/seam/screens.h"
#include "platform/seam/native_window.h"

namespace dravel {

class SparkleUpdaterPlugin;

class MainFlutterWindow : public std::enable_shared_from_this<MainFlutterWindow> {
 public:
  // Takes the platform window as the interface file laid it out.
  explicit MainFlutterWindow(std::unique_ptr<NativeWindow> native);
  ~MainFlutterWindow();
  MainFlutterWindow(const MainFlutterWindow&) = delete;
  MainFlutterWindow& operator=(const MainFlutterWindow&) = delete;

  // Start-up: view controller, plugins, channels, then hidden with alpha 0.
  void awakeFromNib();
  // Every event for this window comes through here.
  void sendEvent(const MouseEvent& event);
  bool canBecomeKey() const { return true; }
  bool canBecomeMain() const { return true; }
  // Hides instead of closing, so the view and its channels stay alive.
  void close();
  // Orders the window out; a window that was fully transparent becomes opaque.
  void orderOut();

  // Overlay mode.
  void enterOverlay(const ScreenPtr& screen);
  void exitOverlay();
  void freezeOverlay();
  void setOverlayBelowMenus(bool below);

  NativeWindow& native() { return *native_; }
  const NativeWindow& native() const { return *native_; }
  FlutterViewController* flutterViewController() const { return flutterViewController_.get(); }
  SparkleUpdaterPlugin& sparkleUpdater() { return *sparkleUpdater_; }

  // Overlay state: the settings saved on entering, and whether it is up.
  Rect savedFrame;
  uint64_t savedStyleMask = 0;
  int64_t savedLevel = 0;
  uint64_t savedCollection = 0;
  std::optional<Color> savedViewBackground;
  bool overlayActive = false;

 private:
  std::unique_ptr<NativeWindow> native_;
  std::unique_ptr<FlutterViewController> flutterViewController_;
  std::unique_ptr<SparkleUpdaterPlugin> sparkleUpdater_;
};

}  // namespace dravel
