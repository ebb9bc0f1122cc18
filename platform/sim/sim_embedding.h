// The simulated embedding: a view controller that records what reaches the
// interface's view, over a messenger supplied by whoever runs the host.
#pragma once

#include <map>
#include <memory>
#include <string>
#include <vector>

#include "platform/seam/embedding.h"

namespace dravel::sim {

class SimEmbedding;

class SimFlutterViewController : public FlutterViewController {
 public:
  SimFlutterViewController(SimEmbedding& embedding, FlutterBinaryMessenger& messenger);
  ~SimFlutterViewController() override;

  std::optional<Color> backgroundColor() const override { return background_; }
  void setBackgroundColor(std::optional<Color> c) override { background_ = std::move(c); }
  void mouseDown(const MouseEvent& e) override { received.push_back({"mouseDown", e}); }
  void mouseUp(const MouseEvent& e) override { received.push_back({"mouseUp", e}); }
  void mouseDragged(const MouseEvent& e) override { received.push_back({"mouseDragged", e}); }
  void rightMouseUp(const MouseEvent& e) override { received.push_back({"rightMouseUp", e}); }
  FlutterBinaryMessenger& binaryMessenger() override { return messenger_; }
  FlutterPluginRegistrar& registrarForPlugin(const std::string& key) override;

  struct Received {
    std::string selector;
    MouseEvent event;
  };
  std::vector<Received> received;

 private:
  SimEmbedding& embedding_;
  FlutterBinaryMessenger& messenger_;
  std::optional<Color> background_ = Color::windowBackground();
  std::map<std::string, std::unique_ptr<MessengerPluginRegistrar>> registrars_;
};

class SimEmbedding : public Embedding {
 public:
  // The messenger is the engine's end of the connection to the interface.
  explicit SimEmbedding(std::shared_ptr<FlutterBinaryMessenger> messenger)
      : messenger_(std::move(messenger)) {}

  std::unique_ptr<FlutterViewController> createFlutterViewController() override;
  void registerExternalPlugin(const std::string& module, const std::string& registrationCall,
                              FlutterPluginRegistrar& registrar) override;

  FlutterBinaryMessenger& messenger() { return *messenger_; }
  // The live view controller, if one exists.
  SimFlutterViewController* viewController() const { return viewController_; }

  struct Registration {
    std::string key;
    std::string module;
    std::string call;
  };
  // Every registrar asked for, in order, and every registration made.
  std::vector<std::string> registrarRequests;
  std::vector<Registration> registrations;

 private:
  friend class SimFlutterViewController;
  std::shared_ptr<FlutterBinaryMessenger> messenger_;
  SimFlutterViewController* viewController_ = nullptr;
};

}  // namespace dravel::sim
