// The application's login item: whether it starts when the user logs in.
#pragma once

#include <optional>
#include <string>

namespace dravel {

// Statuses of the main application's login-item service.
enum LoginItemStatus : int {
  kLoginItemNotRegistered = 0,
  kLoginItemEnabled = 1,
  kLoginItemRequiresApproval = 2,
  kLoginItemNotFound = 3,
};

class LoginItem {
 public:
  virtual ~LoginItem() = default;
  virtual int status() = 0;
  // Register and unregister the main application's login item. Absent on
  // success, else the localized description of the failure.
  virtual std::optional<std::string> registerService() = 0;
  virtual std::optional<std::string> unregisterService() = 0;
};

}  // namespace dravel
