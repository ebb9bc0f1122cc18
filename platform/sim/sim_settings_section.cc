// The system settings addresses that the workspace was asked to open, and
// the ones it cannot open.
#include <string_view>

#include "platform/sim/scenario_registry.h"
#include "platform/sim/sim_desktop.h"

namespace dravel::sim {
namespace {

constexpr std::string_view kSettingsScheme = "x-apple.systempreferences:";

Value settingsAddresses(const std::vector<std::string>& urls) {
  ValueList out;
  for (const auto& url : urls)
    if (url.starts_with(kSettingsScheme)) out.push_back(Value(url));
  return Value(std::move(out));
}

// "settings": {"unopenable": [addresses]}. The state lists the settings
// addresses tried ("attempts") and opened ("opened"), in order.
const SectionRegistrar kSettingsSection{checkedSection(
    "settings",
    [](const Value& value, SimDesktop* desktop) -> std::string {
      if (!value.asMap()) return "expected a map";
      std::map<std::string, bool> unopenable;
      if (const Value* list = value.at("unopenable")) {
        if (!list->asList()) return "unopenable: expected a list of addresses";
        for (const Value& item : *list->asList()) {
          if (!item.asString()) return "unopenable: expected a list of addresses";
          unopenable[*item.asString()] = true;
        }
      }
      if (desktop) desktop->workspace().unopenableURLs = std::move(unopenable);
      return {};
    },
    [](SimDesktop& desktop) -> Value {
      SimWorkspace& workspace = desktop.workspace();
      ValueList unopenable;
      for (const auto& [url, flag] : workspace.unopenableURLs)
        if (flag) unopenable.push_back(Value(url));
      return ValueMap{{"unopenable", Value(std::move(unopenable))},
                      {"attempts", settingsAddresses(workspace.openAttempts)},
                      {"opened", settingsAddresses(workspace.opened)}};
    })};

}  // namespace
}  // namespace dravel::sim
