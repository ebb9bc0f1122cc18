// The simulated main window: every setting is plain state that tests read.
#pragma once

#include <functional>
#include <vector>

#include "platform/seam/native_window.h"

namespace dravel::sim {

class SimWindow : public NativeWindow {
 public:
  static constexpr double kTitleBarHeight = 28.0;

  Rect frame() const override { return frame_; }
  void setFrame(const Rect& f, bool display) override {
    frame_ = f;
    lastSetFrameDisplay = display;
    ++setFrameCount;
  }
  uint64_t styleMask() const override { return styleMask_; }
  void setStyleMask(uint64_t m) override { styleMask_ = m; }
  int64_t level() const override { return level_; }
  void setLevel(int64_t l) override { level_ = l; }
  uint64_t collectionBehavior() const override { return collection_; }
  void setCollectionBehavior(uint64_t b) override { collection_ = b; }
  bool hasShadow() const override { return shadow_; }
  void setHasShadow(bool f) override { shadow_ = f; }
  bool isMovable() const override { return movable_; }
  void setMovable(bool f) override { movable_ = f; }
  bool isOpaque() const override { return opaque_; }
  void setOpaque(bool f) override { opaque_ = f; }
  Color backgroundColor() const override { return background_; }
  void setBackgroundColor(const Color& c) override { background_ = c; }
  double alphaValue() const override { return alpha_; }
  void setAlphaValue(double a) override { alpha_ = a; }

  void orderOut() override {
    visible_ = false;
    key_ = false;
    ++orderOutCount;
  }
  void orderFrontRegardless() override {
    visible_ = true;
    miniaturized_ = false;
    ++orderFrontCount;
  }
  void makeKeyAndOrderFront() override {
    visible_ = true;
    key_ = true;
    miniaturized_ = false;
    ++makeKeyCount;
  }
  bool isVisible() const override { return visible_; }
  bool isKey() const { return key_; }
  bool isMiniaturized() const override { return miniaturized_; }
  void deminiaturize() override {
    miniaturized_ = false;
    ++deminiaturizeCount;
  }
  void miniaturize() {
    miniaturized_ = true;
    visible_ = false;
  }

  int64_t windowNumber() const override { return windowNumber_; }
  bool hasAttachedSheet() const override { return sheet_; }
  void setAttachedSheet(bool s) { sheet_ = s; }
  std::optional<Rect> contentViewFrame() const override {
    if (!hasContentView_) return std::nullopt;
    double titleBar =
        (styleMask_ & kWindowStyleTitled) && !(styleMask_ & kWindowStyleFullSizeContentView)
            ? kTitleBarHeight
            : 0.0;
    return Rect{0, 0, frame_.width, std::max(0.0, frame_.height - titleBar)};
  }
  void setHasContentView(bool f) { hasContentView_ = f; }
  void setContentViewController(FlutterViewController* c) override {
    contentViewController_ = c;
    // Installing a content view controller resizes the window to the
    // controller's preferred size; the host puts its frame back afterwards.
    frame_.width = 800;
    frame_.height = 600;
  }
  FlutterViewController* contentViewController() const { return contentViewController_; }
  Point mouseLocationOutsideOfEventStream() const override { return mouseInWindow; }

  void sendEventInherited(const MouseEvent& e) override { inheritedEvents.push_back(e); }
  void setEventDispatcher(std::function<void(const MouseEvent&)> d) override {
    dispatcher_ = std::move(d);
  }
  void setOverrides(NativeWindowOverrides o) override { overrides_ = std::move(o); }
  // The user's close button: the host's close when it has one, else the
  // window just goes.
  void userClose() {
    if (overrides_.close) {
      overrides_.close();
    } else {
      orderOut();
    }
  }
  // The system ordering the window out (for example when the application is
  // hidden): through the host's override when it has one.
  void systemOrderOut() {
    if (overrides_.orderOut) {
      overrides_.orderOut();
    } else {
      orderOut();
    }
  }
  // Whether the window would take keyboard focus now.
  bool canBecomeKey() const { return overrides_.canBecomeKey ? overrides_.canBecomeKey() : true; }
  // A user's event arriving at this window.
  void deliverEvent(const MouseEvent& e) {
    if (dispatcher_) {
      dispatcher_(e);
    } else {
      sendEventInherited(e);
    }
  }

  // Observable history.
  std::vector<MouseEvent> inheritedEvents;
  bool lastSetFrameDisplay = false;
  int setFrameCount = 0;
  int orderOutCount = 0;
  int orderFrontCount = 0;
  int makeKeyCount = 0;
  int deminiaturizeCount = 0;
  Point mouseInWindow;

 private:
  Rect frame_{200, 200, 1000, 700};
  uint64_t styleMask_ = kWindowStyleTitled | kWindowStyleClosable | kWindowStyleMiniaturizable |
                        kWindowStyleResizable;
  int64_t level_ = 0;
  uint64_t collection_ = 0;
  bool shadow_ = true;
  bool movable_ = true;
  bool opaque_ = true;
  Color background_ = Color::windowBackground();
  double alpha_ = 1.0;
  bool visible_ = true;
  bool key_ = false;
  bool miniaturized_ = false;
  int64_t windowNumber_ = 4242;
  bool sheet_ = false;
  bool hasContentView_ = true;
  FlutterViewController* contentViewController_ = nullptr;
  std::function<void(const MouseEvent&)> dispatcher_;
  NativeWindowOverrides overrides_;
};

}  // namespace dravel::sim
