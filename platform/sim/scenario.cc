#include "platform/sim/scenario.h"

#include "platform/sim/json_value.h"
#include "platform/sim/scenario_registry.h"

namespace dravel::sim {

std::variant<Value, std::string> readScenarioFile(const std::string& path) {
  std::string why;
  auto text = readInputFile(path, kMaxJsonFileSize, &why);
  if (!text) return "scenario " + why;
  auto parsed = valueFromJson(*text);
  if (auto* bad = std::get_if<std::string>(&parsed)) return "scenario " + path + ": " + *bad;
  return parsed;
}

std::string applyScenario(const Value& scenario, SimDesktop& desktop) {
  const ValueMap* map = scenario.asMap();
  if (!map || !map->hasStringKeys()) return "a scenario is a map with string keys";
  for (const ScenarioSection& section : scenarioSections()) {
    const Value* value = map->find(section.key);
    if (!value || !section.load) continue;
    std::string why = section.load(*value, desktop);
    if (!why.empty()) return section.key + ": " + why;
  }
  return {};
}

ValueMap scenarioState(SimDesktop& desktop) {
  ValueMap state;
  for (const ScenarioSection& section : scenarioSections()) {
    if (section.state) state.set(section.key, section.state(desktop));
  }
  return state;
}

}  // namespace dravel::sim
