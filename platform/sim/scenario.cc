#include "platform/sim/scenario.h"

#include "platform/sim/scenario_registry.h"

namespace dravel::sim {

namespace {

// Some sections name themselves already; the key is said once.
std::string named(const std::string& key, const std::string& why) {
  if (why.rfind(key + ":", 0) == 0) return why;
  return key + ": " + why;
}

}  // namespace

std::string applyScenario(const Value& scenario, SimDesktop& desktop) {
  const ValueMap* map = scenario.asMap();
  if (!map || !map->hasStringKeys()) return "a scenario is a map with string keys";
  const std::vector<ScenarioSection> sections = scenarioSections();
  for (const ScenarioSection& section : sections) {
    const Value* value = map->find(section.key);
    if (!value || !section.load) continue;
    // A section that cannot check ahead could refuse after others loaded.
    if (!section.check) return section.key + ": this section cannot be checked before it loads";
    std::string why = section.check(*value);
    if (!why.empty()) return named(section.key, why);
  }
  for (const ScenarioSection& section : sections) {
    const Value* value = map->find(section.key);
    if (!value || !section.load) continue;
    std::string why = section.load(*value, desktop);
    if (!why.empty()) return named(section.key, why);
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
