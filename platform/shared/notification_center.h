// The notification centre every platform keeps within its process (the
// interface is the seam's app_notification_center.h), and the notifications
// that menus post through it.
#pragma once

#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "channels/value.h"
#include "platform/seam/app_notification_center.h"

namespace dravel {

// Sent by a menu after an item was added; user info "NSMenuItemIndex".
inline constexpr const char* kMenuDidAddItemNotification = "NSMenuDidAddItemNotification";

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
