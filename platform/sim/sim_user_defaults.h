// Simulated preferences of other domains, among them the system's table of
// symbolic hotkeys, and the desktop's own shortcuts read from that table.
#pragma once

#include <map>
#include <optional>
#include <set>
#include <string>

#include "platform/seam/system_shortcuts.h"
#include "platform/seam/user_defaults.h"

namespace dravel::sim {

class SimUserDefaults : public UserDefaults {
 public:
  std::optional<Value> dictionaryForKey(const std::string& suite, const std::string& key) override;

  // The stored value under a key of a domain, whatever its type; absent when
  // nothing is stored there.
  std::optional<Value> storedValue(const std::string& suite, const std::string& key) const;
  // Stores any value (a map, or something malformed on purpose); absent removes it.
  void store(const std::string& suite, const std::string& key, std::optional<Value> value);

  // domain -> key -> value, as stored.
  std::map<std::string, std::map<std::string, Value>> domains;
  // Domains that cannot be opened at all.
  std::set<std::string> unopenableSuites;
  int reads = 0;
};

// The simulated desktop holds the shortcuts of its symbolic hotkey table,
// read on every question: none can be told while the table cannot be read.
class SimSystemShortcuts : public SystemShortcuts {
 public:
  explicit SimSystemShortcuts(SimUserDefaults& defaults) : defaults_(defaults) {}
  std::optional<bool> isTaken(int64_t keyCode, int64_t modifiers) override;

 private:
  SimUserDefaults& defaults_;
};

}  // namespace dravel::sim
