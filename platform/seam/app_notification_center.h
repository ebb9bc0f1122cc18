// Notifications between objects of the same process (the toolkit's default
// notification centre): menus announce added items through it. Not to be
// confused with the user notifications shown by the system.
#pragma once

#include <functional>
#include <memory>
#include <optional>
#include <string>

#include "channels/value.h"
#include "platform/seam/app_object.h"

namespace dravel {

struct AppNotification {
  std::string name;
  std::shared_ptr<AppObject> object;
  std::optional<ValueMap> userInfo;
};

// Keeps an observer registered for as long as it is held.
using ObserverToken = std::shared_ptr<void>;

class AppNotificationCenter {
 public:
  using Block = std::function<void(const AppNotification&)>;
  virtual ~AppNotificationCenter() = default;

  // Registers `block` for notifications of `name` from `object` (null: from
  // any object). With no queue, the block runs synchronously in the posting
  // call. The registration lasts while the returned token is held.
  virtual ObserverToken addObserverForName(const std::string& name, const AppObject* object,
                                           Block block) = 0;
  virtual void postNotification(const AppNotification& notification) = 0;
};

}  // namespace dravel
