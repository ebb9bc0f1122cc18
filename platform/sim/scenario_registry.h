// How the simulated desktop's services take part in scenarios and in the
// "sim/desktop" channel. Each service registers, from its own source file, a
// section (the scenario key it reads and the state it reports) and any user
// actions it simulates. The scenario loader and the channel walk these lists.
#pragma once

#include <functional>
#include <string>
#include <vector>

#include "channels/flutter_result.h"
#include "channels/value.h"

namespace dravel::sim {

class SimDesktop;

struct ScenarioSection {
  // The top-level key of the scenario map that this section reads.
  std::string key;
  // Applies the section's value to the desktop. Returns an error text for a
  // malformed value (the load is then refused), or an empty string.
  std::function<std::string(const Value& value, SimDesktop& desktop)> load;
  // What the section reports under its key in "state"; may be empty.
  std::function<Value(SimDesktop& desktop)> state;
  // Lower orders load first (screens before windows, for example).
  int order = 100;
  // Gives every refusal `load` would give for `value`, changing nothing. A
  // scenario is checked section by section before any section loads, so a
  // refused scenario leaves the desktop as it was. Every section with a
  // `load` has one (checkedSection makes both from one function).
  std::function<std::string(const Value& value)> check = nullptr;
};

// A section's reading of its value: it reads and checks everything before it
// changes anything, and when given no desktop (null) it stops there.
using SectionLoader = std::function<std::string(const Value& value, SimDesktop* desktop)>;

// A section whose `load` and `check` are the one loader, with and without
// the desktop.
ScenarioSection checkedSection(std::string key, SectionLoader loader,
                               std::function<Value(SimDesktop& desktop)> state, int order = 100);

struct SimAction {
  // The method name on "sim/desktop".
  std::string name;
  // Runs the action and answers the call (exactly once, possibly later).
  std::function<void(const Value& arguments, SimDesktop& desktop, FlutterResult result)> run;
};

void registerScenarioSection(ScenarioSection section);
void registerSimAction(SimAction action);
std::vector<ScenarioSection> scenarioSections();  // sorted by order, then key
std::vector<SimAction> simActions();

// Registers at static-initialisation time: `static SectionRegistrar r{{...}};`
struct SectionRegistrar {
  explicit SectionRegistrar(ScenarioSection section) {
    registerScenarioSection(std::move(section));
  }
};
struct ActionRegistrar {
  explicit ActionRegistrar(SimAction action) { registerSimAction(std::move(action)); }
};

}  // namespace dravel::sim
