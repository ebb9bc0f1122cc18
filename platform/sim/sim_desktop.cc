#include "platform/sim/sim_desktop.h"

namespace dravel::sim {

// The main window tells the desktop when it goes.
class SimMainWindow : public SimWindow {
 public:
  explicit SimMainWindow(SimDesktop& desktop) : desktop_(desktop) { desktop_.mainWindow_ = this; }
  ~SimMainWindow() override {
    if (desktop_.mainWindow_ == this) desktop_.mainWindow_ = nullptr;
  }

 private:
  SimDesktop& desktop_;
};

SimDesktop::SimDesktop(std::shared_ptr<FlutterBinaryMessenger> messenger)
    : embedding_(std::move(messenger)) {
  windowList_.desktop = this;
  screenCapture_ = std::make_unique<SimScreenCapture>(*this);
  // One 1440 x 900 screen at scale 2 until a scenario says otherwise.
  screens_.list.push_back(SimScreen::withDisplayId({0, 0, 1440, 900}, 2.0, 1));
  input_.pointer = {720, 450};
  runningApplications_.onTerminate = [this](int pid) { processControl_.terminateRequested(pid); };
}

SimDesktop::~SimDesktop() = default;

std::unique_ptr<NativeWindow> SimDesktop::createMainWindow() {
  return std::make_unique<SimMainWindow>(*this);
}

}  // namespace dravel::sim
