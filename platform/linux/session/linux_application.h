// The application on an X11 desktop. X has no applications of its own, only
// windows: the activation policy becomes the main window's taskbar and pager
// hints, and activation is giving the main window the keyboard focus.
#pragma once

#include <functional>

#include "platform/seam/application.h"

namespace dravel::linux_platform {

class LinuxWindow;

class LinuxApplication : public Application {
 public:
  // `mainWindow` gives the main window when there is one (else null); it is
  // asked each time, so the window may come after the application. A policy
  // set before the window exists is applied by setActivationPolicy once more
  // (or by calling it again after creating the window).
  explicit LinuxApplication(std::function<LinuxWindow*()> mainWindow);

  int activationPolicy() override { return policy_; }
  // Regular: listed in taskbars and pagers; accessory: not in the taskbar;
  // prohibited: in neither. Unknown policies are refused.
  bool setActivationPolicy(int policy) override;
  // Gives the main window the focus when it is shown, with a real server
  // time. X has no notion of other applications' activation to ignore.
  void activateIgnoringOtherApps(bool flag) override;
  // Shows the main window again if hide() hid it.
  void unhide() override;
  // Asks the holder of the application's name on the session bus, when it is
  // another process, to come forward (org.freedesktop.Application.Activate
  // on /app/dravel/Dravel, at most 5 s); true when it answered.
  bool handOverToRunningCopy() override;
  void setReopenHandler(std::function<void(bool)> handler) override {
    reopenHandler_ = std::move(handler);
  }
  // A later launch handed itself over: the reopen handler hears of it.
  void reopenRequested();
  // Orders the main window out as the platform does by itself (through the
  // host's order-out), remembering to show it again on unhide().
  void hide();
  bool isHidden() const { return hidden_; }

 private:
  std::function<LinuxWindow*()> mainWindow_;
  int policy_ = kActivationPolicyRegular;
  bool hidden_ = false;
  std::function<void(bool)> reopenHandler_;
};

}  // namespace dravel::linux_platform
