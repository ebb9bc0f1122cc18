#include "platform/shared/engine_worker.h"

#include <exception>

#include "channels/log.h"

namespace dravel {

EngineWorker::EngineWorker(Task setUp, Task tearDown)
    : thread_([this, setUp = std::move(setUp), tearDown = std::move(tearDown)] {
        run(setUp, tearDown);
      }) {}

EngineWorker::~EngineWorker() {
  std::deque<Task> dropped;
  std::multimap<std::chrono::steady_clock::time_point, Task> droppedLater;
  {
    std::lock_guard<std::mutex> lock(mutex_);
    stopping_ = true;
    dropped.swap(tasks_);
    droppedLater.swap(delayed_);
  }
  wake_.notify_all();
  thread_.join();
  // Work that never ran is released here, on the owner's thread.
  dropped.clear();
  droppedLater.clear();
}

void EngineWorker::run(const Task& setUp, const Task& tearDown) {
  if (setUp) setUp();
  std::unique_lock<std::mutex> lock(mutex_);
  ready_ = true;
  idle_.notify_all();
  for (;;) {
    for (;;) {
      if (stopping_) break;
      // Delayed tasks that are due join the queue in the order they fell due.
      const auto now = std::chrono::steady_clock::now();
      while (!delayed_.empty() && delayed_.begin()->first <= now) {
        tasks_.push_back(std::move(delayed_.begin()->second));
        delayed_.erase(delayed_.begin());
      }
      if (!tasks_.empty()) break;
      if (delayed_.empty()) {
        wake_.wait(lock);
      } else {
        wake_.wait_until(lock, delayed_.begin()->first);
      }
    }
    if (stopping_) break;
    Task task = std::move(tasks_.front());
    tasks_.pop_front();
    busy_ = true;
    lock.unlock();
    // Whatever a task throws ends that task, never the process. Tasks answer
    // their own failures; this is the last resort.
    try {
      task();
    } catch (const std::exception& e) {
      // Out of memory, even the line may not be written; the thread goes on.
      try {
        NSLog("[capture] an engine task failed: %s", e.what());
      } catch (...) {
      }
    }
    task = nullptr;
    lock.lock();
    busy_ = false;
    if (tasks_.empty()) idle_.notify_all();
  }
  lock.unlock();
  if (tearDown) tearDown();
  lock.lock();
  busy_ = false;
  idle_.notify_all();
}

bool EngineWorker::post(Task task) {
  {
    std::lock_guard<std::mutex> lock(mutex_);
    if (stopping_) return false;
    tasks_.push_back(std::move(task));
  }
  wake_.notify_one();
  return true;
}

bool EngineWorker::postAfter(std::chrono::milliseconds delay, Task task) {
  {
    std::lock_guard<std::mutex> lock(mutex_);
    if (stopping_) return false;
    delayed_.emplace(std::chrono::steady_clock::now() + delay, std::move(task));
  }
  wake_.notify_one();
  return true;
}

void EngineWorker::waitUntilIdle() {
  std::unique_lock<std::mutex> lock(mutex_);
  idle_.wait(lock, [this] { return stopping_ || (ready_ && tasks_.empty() && !busy_); });
}

}  // namespace dravel
