// A stand-in for the panel's StatusNotifierWatcher on the session bus: it owns
// org.kde.StatusNotifierWatcher on a connection of its own (so that letting it
// go makes the name vanish as a panel that quits does), answers that a host is
// registered, and records the items that register.
#pragma once

#include <string>
#include <vector>

#include "tests/support/fake_bus_service.h"

namespace dravel::testing {

class StatusNotifierWatcher {
 public:
  // Serves the watcher object under its name (OwnedBusObject::start).
  bool start();
  bool started() const { return object_.owned(); }

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
  void registered(Item item) { registrations_.push_back(std::move(item)); }

 private:
  std::vector<Item> registrations_;
  // Closed at the end: the name goes.
  OwnedBusObject object_;
};

}  // namespace dravel::testing
