// Scenarios: a JSON description of everything the simulated desktop knows.
// Each top-level key is read by the registered section that owns it
// (scenario_registry.h); docs/scenarios.md lists them.
#pragma once

#include <string>

#include "channels/value.h"

namespace dravel::sim {

class SimDesktop;

// Applies a scenario map through the registered sections, in their order.
// Each key present replaces the state its section describes; keys that no
// section reads are ignored. All or nothing: every section present is checked
// before any loads, so a refused scenario changes nothing. Returns an empty
// string, or the first section's complaint as "key: reason".
std::string applyScenario(const Value& scenario, SimDesktop& desktop);

// What every section reports, under its key.
ValueMap scenarioState(SimDesktop& desktop);

}  // namespace dravel::sim
