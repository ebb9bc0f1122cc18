#include "platform/sim/scenario_registry.h"

#include <algorithm>
#include <mutex>

namespace dravel::sim {
namespace {

std::mutex& registryMutex() {
  static std::mutex m;
  return m;
}
std::vector<ScenarioSection>& sections() {
  static std::vector<ScenarioSection> s;
  return s;
}
std::vector<SimAction>& actions() {
  static std::vector<SimAction> a;
  return a;
}

}  // namespace

ScenarioSection checkedSection(std::string key, SectionLoader loader,
                               std::function<Value(SimDesktop& desktop)> state, int order) {
  ScenarioSection section;
  section.key = std::move(key);
  section.load = [loader](const Value& value, SimDesktop& desktop) {
    return loader(value, &desktop);
  };
  section.check = [loader](const Value& value) { return loader(value, nullptr); };
  section.state = std::move(state);
  section.order = order;
  return section;
}

void registerScenarioSection(ScenarioSection section) {
  std::lock_guard<std::mutex> lock(registryMutex());
  auto& all = sections();
  all.erase(std::remove_if(all.begin(), all.end(),
                           [&](const ScenarioSection& s) { return s.key == section.key; }),
            all.end());
  all.push_back(std::move(section));
}

void registerSimAction(SimAction action) {
  std::lock_guard<std::mutex> lock(registryMutex());
  auto& all = actions();
  all.erase(std::remove_if(all.begin(), all.end(),
                           [&](const SimAction& a) { return a.name == action.name; }),
            all.end());
  all.push_back(std::move(action));
}

std::vector<ScenarioSection> scenarioSections() {
  std::lock_guard<std::mutex> lock(registryMutex());
  std::vector<ScenarioSection> copy = sections();
  std::sort(copy.begin(), copy.end(), [](const ScenarioSection& a, const ScenarioSection& b) {
    return a.order != b.order ? a.order < b.order : a.key < b.key;
  });
  return copy;
}

std::vector<SimAction> simActions() {
  std::lock_guard<std::mutex> lock(registryMutex());
  return actions();
}

}  // namespace dravel::sim
