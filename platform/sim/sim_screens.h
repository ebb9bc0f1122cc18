// Simulated screens and pointer.
#pragma once

#include <memory>
#include <vector>

#include "platform/seam/input.h"
#include "platform/seam/screens.h"

namespace dravel::sim {

class SimScreen : public Screen {
 public:
  SimScreen(Rect frame, double scale, ValueMap deviceDescription)
      : frame_(frame), scale_(scale), description_(std::move(deviceDescription)) {}
  // A screen whose device description carries the given display id.
  static std::shared_ptr<SimScreen> withDisplayId(Rect frame, double scale, uint32_t displayId);

  Rect frame() const override { return frame_; }
  double backingScaleFactor() const override { return scale_; }
  ValueMap deviceDescription() const override { return description_; }

  void setFrame(Rect f) { frame_ = f; }
  void setScale(double s) { scale_ = s; }
  void setDeviceDescription(ValueMap d) { description_ = std::move(d); }

 private:
  Rect frame_;
  double scale_;
  ValueMap description_;
};

class SimScreens : public Screens {
 public:
  std::vector<ScreenPtr> screens() override { return {list.begin(), list.end()}; }
  // The main screen is the one at `mainIndex`, or none when it is out of range.
  ScreenPtr mainScreen() override {
    if (mainIndex < 0 || static_cast<size_t>(mainIndex) >= list.size()) return nullptr;
    return list[static_cast<size_t>(mainIndex)];
  }

  std::vector<std::shared_ptr<SimScreen>> list;
  int mainIndex = 0;
};

class SimInput : public Input {
 public:
  Point mouseLocation() override {
    ++mouseReads;
    return pointer;
  }
  uint64_t pressedMouseButtons() override { return buttons; }
  double systemUptime() override;
  std::optional<MouseEvent> mouseEvent(int type, Point location, uint64_t modifierFlags,
                                       double timestamp, int64_t windowNumber, int64_t eventNumber,
                                       int64_t clickCount, double pressure) override;
  void setCursorHiddenUntilMouseMoves(bool hidden) override { cursorHiddenUntilMoved = hidden; }

  Point pointer;
  uint64_t buttons = 0;
  double uptimeBase = 1000.0;
  bool failEventCreation = false;
  bool cursorHiddenUntilMoved = false;
  int mouseReads = 0;
};

}  // namespace dravel::sim
