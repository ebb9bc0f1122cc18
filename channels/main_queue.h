// The main queue: everything that holds state runs here, on one thread.
#pragma once

#include <cstdint>
#include <functional>

namespace dravel {

using Task = std::function<void()>;
using TimerId = uint64_t;

class MainQueue {
 public:
  virtual ~MainQueue() = default;

  // Runs `task` on a later turn of the main loop. Safe from any thread.
  virtual void async(Task task) = 0;
  // Runs `task` on the main loop `seconds` from now. Main thread only.
  virtual void asyncAfter(double seconds, Task task) = 0;

  // Seconds on the queue's clock (monotonic; virtual in tests).
  virtual double now() const = 0;

  // A repeating timer that fires only while a modal run is in progress
  // (an alert's own run loop). Main thread only.
  virtual TimerId addModalTimer(double interval, Task task) = 0;
  virtual void cancelTimer(TimerId id) = 0;

  // Runs a nested loop until stopModal() is called from inside it. Ordinary
  // work and modal timers run while it lasts.
  virtual void runModal() = 0;
  virtual void stopModal() = 0;
  virtual bool inModal() const = 0;
};

// The process-wide main queue, installed at start-up (or by a test).
MainQueue& mainQueue();
void setMainQueue(MainQueue* queue);

}  // namespace dravel
