#include "platform/shared/notification_center.h"

#include <algorithm>

namespace dravel {

ObserverToken InProcessNotificationCenter::addObserverForName(const std::string& name,
                                                              const AppObject* object,
                                                              Block block) {
  auto observer = std::make_shared<Observer>(Observer{name, object, std::move(block)});
  observers_.push_back(observer);
  ++registrations_;
  return observer;
}

void InProcessNotificationCenter::postNotification(const AppNotification& notification) {
  // Observers added while posting hear only later notifications.
  std::vector<std::shared_ptr<Observer>> live;
  for (auto& weak : observers_) {
    if (auto o = weak.lock()) live.push_back(std::move(o));
  }
  observers_.erase(std::remove_if(observers_.begin(), observers_.end(),
                                  [](const std::weak_ptr<Observer>& w) { return w.expired(); }),
                   observers_.end());
  for (auto& o : live) {
    if (o->name != notification.name) continue;
    if (o->object && o->object != notification.object.get()) continue;
    o->block(notification);
  }
}

size_t InProcessNotificationCenter::liveObservers() const {
  return static_cast<size_t>(std::count_if(observers_.begin(), observers_.end(),
                                           [](const auto& w) { return !w.expired(); }));
}

}  // namespace dravel
