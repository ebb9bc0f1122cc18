// A stand-in for the panel's StatusNotifierWatcher on the session bus: it owns
// org.kde.StatusNotifierWatcher on a connection of its own (so that letting it
// go makes the name vanish as a panel that quits does), answers that a host is
// registered, and records the items that register.
#pragma once

#include <string>
#include <vector>

typedef struct _GDBusConnection GDBusConnection;

namespace dravel::testing {

class StatusNotifierWatcher {
 public:
  StatusNotifierWatcher() = default;
  // Closes its connection: the name goes.
  ~StatusNotifierWatcher();
  StatusNotifierWatcher(const StatusNotifierWatcher&) = delete;
  StatusNotifierWatcher& operator=(const StatusNotifierWatcher&) = delete;

  // Connects, serves the watcher object and owns the name, running the
  // default main context until the bus has granted it (10 s at most). False
  // when any of it fails.
  bool start();
  bool started() const { return owned_ == 1; }

  struct Item {
    std::string sender;   // the registering connection's unique name
    std::string service;  // as registered: an object path or a bus name
    // Where the item's object is: the bus name and the object path.
    std::string busName() const;
    std::string objectPath() const;
  };
  // Every registration so far, in order.
  const std::vector<Item>& registrations() const { return registrations_; }

  // Public only for the bus callbacks.
  void registered(Item item);
  void nameAcquired(bool acquired) { owned_ = acquired ? 1 : -1; }

 private:
  GDBusConnection* connection_ = nullptr;
  unsigned objectId_ = 0;
  unsigned ownerId_ = 0;
  int owned_ = 0;  // 1 owned, -1 refused, 0 not yet known
  std::vector<Item> registrations_;
};

}  // namespace dravel::testing
