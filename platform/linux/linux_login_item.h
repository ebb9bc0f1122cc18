// Start at login on Linux. Not served on this desktop yet: the status is
// "not found" and registering or unregistering fails with a description.
#pragma once

#include "platform/login_item.h"

namespace dravel::linux_platform {

class UnavailableLoginItem : public LoginItem {
 public:
  int status() override { return kLoginItemNotFound; }
  std::optional<std::string> registerService() override {
    return std::string("Start at login is not available on this desktop.");
  }
  std::optional<std::string> unregisterService() override {
    return std::string("Start at login is not available on this desktop.");
  }
};

}  // namespace dravel::linux_platform
