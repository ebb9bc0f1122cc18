// The embedding that runs the interface: its view controller, engine messenger
// and plugin registry. The embedding lies outside the host; this is what the
// host relies on from it.
#pragma once

#include <memory>
#include <optional>
#include <string>
#include <utility>

#include "channels/binary_messenger.h"
#include "platform/seam/input.h"
#include "platform/seam/geometry.h"

namespace dravel {

// What a plugin registers itself with.
class FlutterPluginRegistrar {
 public:
  virtual ~FlutterPluginRegistrar() = default;
  virtual const std::string& pluginKey() const = 0;
  virtual FlutterBinaryMessenger& messenger() = 0;
};

// A registrar that is just a key and the engine's messenger, which is all an
// embedding without a plugin registry of its own gives.
class MessengerPluginRegistrar : public FlutterPluginRegistrar {
 public:
  MessengerPluginRegistrar(std::string key, FlutterBinaryMessenger& messenger)
      : key_(std::move(key)), messenger_(messenger) {}
  const std::string& pluginKey() const override { return key_; }
  FlutterBinaryMessenger& messenger() override { return messenger_; }

 private:
  std::string key_;
  FlutterBinaryMessenger& messenger_;
};

class FlutterViewController {
 public:
  virtual ~FlutterViewController() = default;

  // The view's background colour; absent when none is set.
  virtual std::optional<Color> backgroundColor() const = 0;
  virtual void setBackgroundColor(std::optional<Color> color) = 0;

  // Mouse events handed straight to the interface's view.
  virtual void mouseDown(const MouseEvent& event) = 0;
  virtual void mouseUp(const MouseEvent& event) = 0;
  virtual void mouseDragged(const MouseEvent& event) = 0;
  virtual void rightMouseUp(const MouseEvent& event) = 0;

  // The engine's messenger, over which every channel runs.
  virtual FlutterBinaryMessenger& binaryMessenger() = 0;
  // The view controller is the plugin registry: a registrar per plugin key.
  virtual FlutterPluginRegistrar& registrarForPlugin(const std::string& key) = 0;
};

class Embedding {
 public:
  virtual ~Embedding() = default;
  // A view controller with the default engine.
  virtual std::unique_ptr<FlutterViewController> createFlutterViewController() = 0;
  // Registers one of the interface's plugins (which lie outside the host)
  // with its registrar. `module` names the plugin's package and
  // `registrationCall` the call used ("register(with:)").
  virtual void registerExternalPlugin(const std::string& module,
                                      const std::string& registrationCall,
                                      FlutterPluginRegistrar& registrar) = 0;
};

}  // namespace dravel
