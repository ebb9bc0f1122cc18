#include "channels/virtual_main_queue.h"

#include <chrono>
#include <limits>

namespace dravel {

VirtualMainQueue::VirtualMainQueue() = default;

void VirtualMainQueue::async(Task task) {
  {
    std::lock_guard<std::mutex> lock(mutex_);
    posted_.push_back(std::move(task));
  }
  cv_.notify_all();
}

void VirtualMainQueue::asyncAfter(double seconds, Task task) {
  if (seconds < 0) seconds = 0;
  delayed_.emplace(std::make_pair(now_ + seconds, seq_++), std::move(task));
}

TimerId VirtualMainQueue::addModalTimer(double interval, Task task) {
  TimerId id = nextTimer_++;
  modalTimers_[id] = ModalTimer{interval, now_ + interval, std::move(task)};
  return id;
}

void VirtualMainQueue::cancelTimer(TimerId id) {
  modalTimers_.erase(id);
}

size_t VirtualMainQueue::drainPosted() {
  size_t ran = 0;
  for (;;) {
    Task task;
    {
      std::lock_guard<std::mutex> lock(mutex_);
      if (posted_.empty()) break;
      task = std::move(posted_.front());
      posted_.pop_front();
    }
    task();
    ++ran;
  }
  return ran;
}

bool VirtualMainQueue::runOneDelayedDue() {
  auto it = delayed_.begin();
  if (it == delayed_.end() || it->first.first > now_) return false;
  Task task = std::move(it->second);
  delayed_.erase(it);
  task();
  return true;
}

bool VirtualMainQueue::runModalTimersDue() {
  if (modalDepth_ == 0) return false;
  bool ran = false;
  while (!modalScript_.empty() && modalScript_.begin()->first <= now_) {
    Task fn = std::move(modalScript_.begin()->second);
    modalScript_.erase(modalScript_.begin());
    fn();
    ran = true;
  }
  for (auto it = modalTimers_.begin(); it != modalTimers_.end();) {
    TimerId id = it->first;
    if (it->second.next <= now_) {
      it->second.next = now_ + it->second.interval;
      Task task = it->second.task;  // the timer may cancel itself
      task();
      ran = true;
      it = modalTimers_.upper_bound(id);
    } else {
      ++it;
    }
  }
  return ran;
}

size_t VirtualMainQueue::runUntilIdle() {
  size_t ran = 0;
  for (;;) {
    size_t n = drainPosted();
    if (runOneDelayedDue()) ++n;
    if (runModalTimersDue()) ++n;
    if (n == 0) break;
    ran += n;
  }
  return ran;
}

double VirtualMainQueue::nextEventTime() const {
  double next = std::numeric_limits<double>::infinity();
  if (!delayed_.empty()) next = delayed_.begin()->first.first;
  if (modalDepth_ > 0) {
    for (auto& [id, timer] : modalTimers_) next = std::min(next, timer.next);
    if (!modalScript_.empty()) next = std::min(next, modalScript_.begin()->first);
  }
  return next;
}

void VirtualMainQueue::advance(double seconds) {
  const double target = now_ + seconds;
  runUntilIdle();
  for (;;) {
    double next = nextEventTime();
    if (next > target) break;
    if (next > now_) now_ = next;
    runUntilIdle();
  }
  // A modal run inside a task may have carried the clock past the target.
  if (now_ < target) now_ = target;
  runUntilIdle();
}

bool VirtualMainQueue::runUntil(const std::function<bool()>& done, double timeoutSeconds) {
  auto deadline = std::chrono::steady_clock::now() +
                  std::chrono::duration_cast<std::chrono::steady_clock::duration>(
                      std::chrono::duration<double>(timeoutSeconds));
  for (;;) {
    runUntilIdle();
    if (done()) return true;
    std::unique_lock<std::mutex> lock(mutex_);
    if (!cv_.wait_until(lock, deadline, [this] { return !posted_.empty(); })) {
      lock.unlock();
      runUntilIdle();
      return done();
    }
  }
}

size_t VirtualMainQueue::pendingDelayed() const {
  return delayed_.size();
}

void VirtualMainQueue::atModalTime(double at, Task fn) {
  modalScript_.emplace(at, std::move(fn));
}

void VirtualMainQueue::runModal() {
  ++modalDepth_;
  const bool outerStop = stopRequested_;
  stopRequested_ = false;
  const double started = now_;
  for (;;) {
    runUntilIdle();
    if (stopRequested_) break;
    double next = nextEventTime();
    // A repeating modal timer alone would keep a forgotten modal run going
    // for ever: give up after an hour of virtual time.
    if (next != std::numeric_limits<double>::infinity() && next - started > kModalRunLimit) break;
    if (next == std::numeric_limits<double>::infinity()) {
      // Nothing can ever end this run: give up instead of hanging.
      bool posted;
      {
        std::lock_guard<std::mutex> lock(mutex_);
        posted = !posted_.empty();
      }
      if (!posted) break;
      continue;
    }
    if (next > now_) now_ = next;
  }
  stopRequested_ = outerStop;
  --modalDepth_;
}

void VirtualMainQueue::stopModal() {
  if (modalDepth_ > 0) stopRequested_ = true;
}

}  // namespace dravel
