// Notifications between objects of the same process (the toolkit's default
// notification centre): menus announce added items through it. Not to be
// confused with the user notifications shown by the system.
#pragma once

#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "channels/value.h"

namespace dravel {

// Anything that can be the object of a notification.
class AppObject {
 public:
  virtual ~AppObject() = default;
  // The bare class name, as the runtime describes the type (no module).
  virtual std::string className() const = 0;
};

struct AppNotification {
  std::string name;
  std::shared_ptr<AppObject> object;
  std::optional<ValueMap> userInfo;
};

// Sent by a menu after an item was added; user info "NSMenuItemIndex".
inline constexpr const char* kMenuDidAddItemNotification = "NSMenuDidAddItemNotification";

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

// The centre as one process keeps it: observers in registration order.
class InProcessNotificationCenter : public AppNotificationCenter {
 public:
  ObserverToken addObserverForName(const std::string& name, const AppObject* object,
                                   Block block) override;
  void postNotification(const AppNotification& notification) override;

  // Registrations made so far, and those still alive.
  int registrations() const { return registrations_; }
  size_t liveObservers() const;

 private:
  struct Observer {
    std::string name;
    const AppObject* object;
    Block block;
  };
  std::vector<std::weak_ptr<Observer>> observers_;
  int registrations_ = 0;
};

}  // namespace dravel
