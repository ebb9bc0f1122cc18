#include "platform/sim/sim_embedding.h"

namespace dravel::sim {

SimFlutterViewController::SimFlutterViewController(SimEmbedding& embedding,
                                                   FlutterBinaryMessenger& messenger)
    : embedding_(embedding), messenger_(messenger) {
  embedding_.viewController_ = this;
}

SimFlutterViewController::~SimFlutterViewController() {
  if (embedding_.viewController_ == this) embedding_.viewController_ = nullptr;
}

FlutterPluginRegistrar& SimFlutterViewController::registrarForPlugin(const std::string& key) {
  embedding_.registrarRequests.push_back(key);
  auto& slot = registrars_[key];
  if (!slot) slot = std::make_unique<MessengerPluginRegistrar>(key, messenger_);
  return *slot;
}

std::unique_ptr<FlutterViewController> SimEmbedding::createFlutterViewController() {
  return std::make_unique<SimFlutterViewController>(*this, *messenger_);
}

void SimEmbedding::registerExternalPlugin(const std::string& module,
                                          const std::string& registrationCall,
                                          FlutterPluginRegistrar& registrar) {
  registrations.push_back({registrar.pluginKey(), module, registrationCall});
}

}  // namespace dravel::sim
