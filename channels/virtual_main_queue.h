// A main queue on a virtual clock, for tests: time moves only when told to.
#pragma once

#include <condition_variable>
#include <cstdint>
#include <deque>
#include <functional>
#include <map>
#include <mutex>
#include <thread>

#include "channels/main_queue.h"

namespace dravel {

class VirtualMainQueue : public MainQueue {
 public:
  static constexpr double kModalRunLimit = 3600.0;

  VirtualMainQueue();

  void async(Task task) override;
  void asyncAfter(double seconds, Task task) override;
  double now() const override { return now_; }
  TimerId addModalTimer(double interval, Task task) override;
  void cancelTimer(TimerId id) override;
  // Advances virtual time from one due task or modal timer to the next until
  // stopModal() is called. Returns early (with the modal run abandoned) when
  // nothing at all is left to run, or when the run would pass
  // kModalRunLimit seconds of virtual time, so a broken test cannot hang.
  void runModal() override;
  void stopModal() override;
  bool inModal() const override { return modalDepth_ > 0; }

  // Runs everything that is due now, including work that it posts, until idle.
  // Returns the number of tasks run.
  size_t runUntilIdle();
  // Moves the clock forward, running each delayed task at its time.
  void advance(double seconds);
  // Waits (in real time, up to `timeoutSeconds`) for work posted from other
  // threads, running it as it comes, until `done` holds. Returns `done()`.
  bool runUntil(const std::function<bool()>& done, double timeoutSeconds = 10.0);
  // Number of delayed tasks not yet run.
  size_t pendingDelayed() const;
  // Registers `fn` to run the first time the virtual clock reaches `at`
  // during a modal run (used to script a user's press in an alert).
  void atModalTime(double at, Task fn);

 private:
  struct Delayed {
    double due;
    uint64_t seq;
    Task task;
  };
  struct ModalTimer {
    double interval;
    double next;
    Task task;
  };
  bool runOneDelayedDue();
  bool runModalTimersDue();
  double nextEventTime() const;
  size_t drainPosted();

  mutable std::mutex mutex_;
  std::condition_variable cv_;
  std::deque<Task> posted_;  // guarded by mutex_
  std::multimap<std::pair<double, uint64_t>, Task> delayed_;
  std::map<TimerId, ModalTimer> modalTimers_;
  std::multimap<double, Task> modalScript_;
  double now_ = 0.0;
  uint64_t seq_ = 0;
  TimerId nextTimer_ = 1;
  int modalDepth_ = 0;
  bool stopRequested_ = false;
};

}  // namespace dravel
