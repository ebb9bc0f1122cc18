#include "platform/linux/linux_session.h"

#include <gtk/gtk.h>

namespace dravel::linux_platform {

class LinuxSession::MainWindow : public LinuxWindow {
 public:
  MainWindow(LinuxSession& session, std::function<DesktopLayout()> layout, LinuxWindowHooks hooks)
      : LinuxWindow(std::move(layout), std::move(hooks)), session_(session) {
    session_.mainWindow_ = this;
  }
  ~MainWindow() override {
    if (session_.mainWindow_ == this) session_.mainWindow_ = nullptr;
  }

 private:
  LinuxSession& session_;
};

LinuxSession::LinuxSession(std::shared_ptr<FlutterBinaryMessenger> messenger,
                           const char* sessionVariable)
    : embedding_(std::move(messenger)),
      runningApplications_(kApplicationId, "/proc", sessionVariable, processHandles_) {}

LinuxSession::~LinuxSession() = default;

void LinuxSession::startSessionServices(std::function<std::optional<int>()> frontmostPid) {
  LinuxSession* self = this;
  objectRuntime_ =
      std::make_unique<GtkCursorRuntime>(embedding_.messenger(), [self]() -> GdkWindow* {
        LinuxWindow* window = self->mainWindow_;
        return window ? gtk_widget_get_window(window->widget()) : nullptr;
      });
  workspace_ = std::make_unique<LinuxWorkspace>(std::move(frontmostPid));
  application_ =
      std::make_unique<LinuxApplication>([self]() -> LinuxWindow* { return self->mainWindow_; });
  trayMenus_ = std::make_unique<LinuxTrayMenus>(appNotificationCenter_);
}

std::unique_ptr<NativeWindow> LinuxSession::makeMainWindow(std::function<DesktopLayout()> layout,
                                                           LinuxWindowHooks hooks) {
  return std::make_unique<MainWindow>(*this, std::move(layout), std::move(hooks));
}

}  // namespace dravel::linux_platform
