// The simulated desktop's scenario sections and actions, reached by name.
#pragma once

#include <gtest/gtest.h>

#include <optional>
#include <string>

#include "platform/sim/scenario_registry.h"
#include "platform/sim/sim_desktop.h"

namespace dravel::testing {

inline const sim::ScenarioSection& section(const std::string& key) {
  static const std::vector<sim::ScenarioSection> all = sim::scenarioSections();
  for (const auto& s : all)
    if (s.key == key) return s;
  ADD_FAILURE() << "no section " << key;
  return all.front();
}

// What the section `key` says of `value` as it loads it: empty when loaded.
inline std::string loadSection(const std::string& key, const Value& value,
                               sim::SimDesktop& desktop) {
  return section(key).load(value, desktop);
}

inline Value sectionState(const std::string& key, sim::SimDesktop& desktop) {
  return section(key).state(desktop);
}

// The answer of the action `name`, if it answered before returning.
inline std::optional<MethodResponse> runAction(const std::string& name, const Value& args,
                                               sim::SimDesktop& desktop) {
  std::optional<MethodResponse> answer;
  for (const auto& a : sim::simActions())
    if (a.name == name)
      a.run(args, desktop, FlutterResult(name, [&](MethodResponse r) { answer = std::move(r); }));
  return answer;
}

}  // namespace dravel::testing
