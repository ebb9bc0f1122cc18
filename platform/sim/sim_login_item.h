// The simulated login item of the main application.
#pragma once

#include <optional>
#include <string>

#include "platform/seam/login_item.h"

namespace dravel::sim {

class SimLoginItem : public LoginItem {
 public:
  int status() override { return currentStatus; }
  std::optional<std::string> registerService() override;
  std::optional<std::string> unregisterService() override;

  int currentStatus = kLoginItemNotRegistered;
  // When set, register leaves the item waiting for the user's approval
  // instead of enabling it.
  bool needsApproval = false;
  // When set, register or unregister fails with this text and changes nothing.
  std::optional<std::string> registerRefusal;
  std::optional<std::string> unregisterRefusal;
  int registers = 0;
  int unregisters = 0;
};

}  // namespace dravel::sim
