#include "platform/linux/session/linux_embedding.h"

namespace dravel::linux_platform {

FlutterPluginRegistrar& SocketViewController::registrarForPlugin(const std::string& key) {
  auto& slot = registrars_[key];
  if (!slot) slot = std::make_unique<MessengerPluginRegistrar>(key, messenger_);
  return *slot;
}

std::unique_ptr<FlutterViewController> SocketEmbedding::createFlutterViewController() {
  return std::make_unique<SocketViewController>(*messenger_);
}

void SocketEmbedding::registerExternalPlugin(const std::string& module,
                                             const std::string& registrationCall,
                                             FlutterPluginRegistrar& registrar) {
  registrations_.push_back({registrar.pluginKey(), module, registrationCall});
}

}  // namespace dravel::linux_platform
