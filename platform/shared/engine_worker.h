// The thread a capture engine answers on: it runs the tasks handed to it one
// at a time, in the order they came, and stops when its owner goes.
#pragma once

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <deque>
#include <functional>
#include <map>
#include <mutex>
#include <new>
#include <thread>

namespace dravel {

class EngineWorker {
 public:
  using Task = std::function<void()>;

  // Starts the thread. `setUp` runs on it before the first task and
  // `tearDown` after the last, so that what the tasks use can live on the
  // thread alone.
  explicit EngineWorker(Task setUp = {}, Task tearDown = {});
  // Stops the thread and waits for it: tasks not yet started are dropped
  // (released on the calling thread, never run), and a task in progress sees
  // stopping() and may end early.
  ~EngineWorker();
  EngineWorker(const EngineWorker&) = delete;
  EngineWorker& operator=(const EngineWorker&) = delete;

  // Hands over a task; false (the task dropped) once stopping.
  bool post(Task task);
  // Hands over a task that runs once `delay` has passed, after what was
  // handed over before it is due; dropped, like the others, when stopping.
  bool postAfter(std::chrono::milliseconds delay, Task task);
  // Blocks until the thread is set up and has run everything handed to it so
  // far (delayed tasks not yet due aside), or is stopping.
  void waitUntilIdle();
  // Whether the owner is going away; a long task polls this.
  bool stopping() const { return stopping_.load(); }
  bool isWorkerThread() const { return std::this_thread::get_id() == thread_.get_id(); }

 private:
  void run(const Task& setUp, const Task& tearDown);

  std::mutex mutex_;
  std::condition_variable wake_;
  std::condition_variable idle_;
  std::deque<Task> tasks_;
  // Delayed tasks by the time they are due.
  std::multimap<std::chrono::steady_clock::time_point, Task> delayed_;
  bool busy_ = false;
  bool ready_ = false;
  std::atomic<bool> stopping_{false};
  std::thread thread_;
};

// Runs an engine task that answers through a handler. When memory runs out
// before the task has answered, `noMemory` answers instead, so the caller is
// never left waiting; once the handler has the answer, what it does with it
// is its own affair.
template <typename Body, typename NoMemory>
void answerEvenWithoutMemory(Body&& body, NoMemory&& noMemory) {
  bool answered = false;
  try {
    body(answered);
  } catch (const std::bad_alloc&) {
    if (!answered) noMemory();
  }
}

// The error of an engine task that ran out of memory.
inline constexpr char kOutOfMemory[] = "Out of memory.";

// Runs an engine task that answers `handler` with what `make` returns and no
// error; when memory runs out first, with nothing and kOutOfMemory.
template <typename Handler, typename Make>
void answerMadeEvenWithoutMemory(Handler& handler, Make&& make) {
  answerEvenWithoutMemory(
      [&](bool& answered) {
        auto made = make();
        answered = true;
        handler(std::move(made), std::nullopt);
      },
      [&] { handler({}, std::string(kOutOfMemory)); });
}

}  // namespace dravel
