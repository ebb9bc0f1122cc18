// The embedding on the Linux desktop when the interface runs in another
// process and reaches the host over the local socket: the view controller
// carries the messenger and the view's background, and hands mouse events on
// to whoever listens (the interface's own window draws itself).
#pragma once

#include <functional>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "platform/seam/embedding.h"

namespace dravel::linux_platform {

class SocketViewController : public FlutterViewController {
 public:
  explicit SocketViewController(FlutterBinaryMessenger& messenger) : messenger_(messenger) {}

  std::optional<Color> backgroundColor() const override { return background_; }
  void setBackgroundColor(std::optional<Color> color) override { background_ = std::move(color); }
  void mouseDown(const MouseEvent& event) override { deliver("mouseDown", event); }
  void mouseUp(const MouseEvent& event) override { deliver("mouseUp", event); }
  void mouseDragged(const MouseEvent& event) override { deliver("mouseDragged", event); }
  void rightMouseUp(const MouseEvent& event) override { deliver("rightMouseUp", event); }
  FlutterBinaryMessenger& binaryMessenger() override { return messenger_; }
  FlutterPluginRegistrar& registrarForPlugin(const std::string& key) override;

  // Receives the events the host routes to the view: the selector's name
  // and the event.
  std::function<void(const std::string& selector, const MouseEvent& event)> eventListener;

 private:
  void deliver(const char* selector, const MouseEvent& event) {
    if (eventListener) eventListener(selector, event);
  }

  FlutterBinaryMessenger& messenger_;
  std::optional<Color> background_ = Color::windowBackground();
  std::map<std::string, std::unique_ptr<MessengerPluginRegistrar>> registrars_;
};

class SocketEmbedding : public Embedding {
 public:
  explicit SocketEmbedding(std::shared_ptr<FlutterBinaryMessenger> messenger)
      : messenger_(std::move(messenger)) {}

  std::unique_ptr<FlutterViewController> createFlutterViewController() override;
  // The interface's plugins live in the interface's process: the host only
  // notes which it was asked to register.
  void registerExternalPlugin(const std::string& module, const std::string& registrationCall,
                              FlutterPluginRegistrar& registrar) override;

  struct Registration {
    std::string key;
    std::string module;
    std::string call;
  };
  const std::vector<Registration>& registrations() const { return registrations_; }
  FlutterBinaryMessenger& messenger() { return *messenger_; }

 private:
  std::shared_ptr<FlutterBinaryMessenger> messenger_;
  std::vector<Registration> registrations_;
};

}  // namespace dravel::linux_platform
