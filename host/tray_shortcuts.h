// Key equivalents, badges and hints on the items of the tray menu.
#pragma once

#include <map>
#include <string>
#include <vector>

#include "channels/value.h"

namespace dravel {

class TrayShortcuts {
 public:
  static TrayShortcuts& shared();
  // Replaces the shortcut, badge and hint tables as a whole.
  void update(const std::vector<ValueMap>& items, const std::map<std::string, std::string>& badges,
              const std::map<std::string, std::string>& hints);

 private:
  TrayShortcuts() = default;
};

}  // namespace dravel
