#include "platform/sim/sim_user_defaults.h"

#include "platform/shared/symbolic_hotkeys.h"
#include "platform/sim/scenario_registry.h"
#include "platform/sim/sim_desktop.h"

namespace dravel::sim {

std::optional<Value> SimUserDefaults::dictionaryForKey(const std::string& suite,
                                                       const std::string& key) {
  ++reads;
  if (unopenableSuites.count(suite)) return std::nullopt;
  std::optional<Value> value = storedValue(suite, key);
  // Like the platform, a value of another type is not a dictionary.
  if (!value || !value->asMap()) return std::nullopt;
  return value;
}

std::optional<Value> SimUserDefaults::storedValue(const std::string& suite,
                                                  const std::string& key) const {
  auto domain = domains.find(suite);
  if (domain == domains.end()) return std::nullopt;
  auto entry = domain->second.find(key);
  if (entry == domain->second.end()) return std::nullopt;
  return entry->second;
}

void SimUserDefaults::store(const std::string& suite, const std::string& key,
                            std::optional<Value> value) {
  if (value) {
    domains[suite][key] = std::move(*value);
    return;
  }
  auto domain = domains.find(suite);
  if (domain == domains.end()) return;
  domain->second.erase(key);
  if (domain->second.empty()) domains.erase(domain);
}

std::optional<bool> SimSystemShortcuts::isTaken(int64_t keyCode, int64_t modifiers) {
  return symbolicHotkeyTaken(defaults_.dictionaryForKey(kSymbolicHotkeysSuite, kSymbolicHotkeysKey),
                             keyCode, modifiers);
}

namespace {

// "hotkeys": the symbolic hotkey table exactly as the system would store it
// (entries may be malformed on purpose), or null when there is none.
const SectionRegistrar kHotkeysSection{checkedSection(
    "hotkeys",
    [](const Value& value, SimDesktop* desktop) -> std::string {
      // Any value: a malformed table is part of what a scenario may say.
      if (!desktop) return {};
      SimUserDefaults& defaults = desktop->userDefaults();
      defaults.unopenableSuites.erase(kSymbolicHotkeysSuite);
      defaults.store(kSymbolicHotkeysSuite, kSymbolicHotkeysKey,
                     value.isNull() ? std::nullopt : std::optional<Value>(value));
      return {};
    },
    [](SimDesktop& desktop) -> Value {
      return desktop.userDefaults()
          .storedValue(kSymbolicHotkeysSuite, kSymbolicHotkeysKey)
          .value_or(Value());
    })};

}  // namespace
}  // namespace dravel::sim
