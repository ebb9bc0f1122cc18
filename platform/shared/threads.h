// Threads of bulk work: split over the machine's cores (short-lived threads
// for jobs big enough that starting one, some tens of microseconds, is
// nothing next to its share), and run below the main thread's priority.
#pragma once

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <cstddef>
#include <exception>
#include <thread>
#include <vector>

#ifdef __linux__
#include <sys/resource.h>
#include <sys/syscall.h>
#include <unistd.h>
#endif

namespace dravel {

// The threads to use when 0 (one per core) or a count is asked.
inline unsigned threadCount(unsigned asked) {
  if (asked > 0) return asked;
  const unsigned cores = std::thread::hardware_concurrency();
  return cores > 0 ? cores : 1;
}

// Runs work(0..count-1) on up to `threads` threads, the caller's among them,
// and returns when all are done. Threads that cannot be started leave their
// share to the others.
template <typename Work>
void parallelFor(size_t count, unsigned threads, const Work& work) {
  std::atomic<size_t> next{0};
  auto run = [&] {
    for (size_t i; (i = next.fetch_add(1)) < count;) work(i);
  };
  std::vector<std::thread> helpers;
  const size_t wanted = std::min<size_t>(threads, count);
  for (size_t i = 1; i < wanted; ++i) {
    try {
      helpers.emplace_back(run);
    } catch (const std::exception&) {
      break;
    }
  }
  run();
  for (std::thread& t : helpers) t.join();
}

// Puts the calling thread a little below the others of the process (and the
// threads it starts from now on, which inherit it), so that on a machine of
// few cores the main thread, which answers every call, gets a core first when
// it wakes. Best effort: where the system has no such setting, nothing
// changes.
inline void lowerThreadPriority() {
#ifdef __linux__
  // On Linux a thread's nice value is its own, and settable by its id.
  const auto self = static_cast<id_t>(syscall(SYS_gettid));
  errno = 0;
  const int now = getpriority(PRIO_PROCESS, self);
  if (errno == 0) setpriority(PRIO_PROCESS, self, std::min(now + 5, 19));
#endif
}

}  // namespace dravel
