#include "platform/sim/sim_desktop_channel.h"

#include "channels/method_channel.h"
#include "platform/sim/scenario.h"
#include "platform/sim/scenario_registry.h"
#include "platform/sim/sim_desktop.h"

namespace dravel::sim {

SimDesktopChannel::SimDesktopChannel(SimDesktop& desktop, FlutterBinaryMessenger& messenger)
    : desktop_(desktop), messenger_(messenger) {
  FlutterMethodChannel channel(kSimDesktopChannel, &messenger_);
  channel.setMethodCallHandler([this](const FlutterMethodCall& call, FlutterResult result) {
    if (call.method == "load") {
      std::string why = applyScenario(call.arguments, desktop_);
      if (why.empty()) {
        result(Value());
      } else {
        result(FlutterError::errorWithCode("bad_scenario", why));
      }
      return;
    }
    if (call.method == "state") {
      result(state());
      return;
    }
    for (const SimAction& action : simActions()) {
      if (action.name == call.method) {
        action.run(call.arguments, desktop_, std::move(result));
        return;
      }
    }
    result(FlutterMethodNotImplemented);
  });
}

SimDesktopChannel::~SimDesktopChannel() {
  messenger_.setMessageHandlerOnChannel(kSimDesktopChannel, nullptr);
}

Value SimDesktopChannel::state() const {
  ValueMap state = scenarioState(desktop_);
  ValueList lines;
  for (const std::string& line : desktop_.hostLog().lines()) lines.push_back(Value(line));
  state.set("log", Value(std::move(lines)));
  return Value(std::move(state));
}

}  // namespace dravel::sim
