// Bulk work split over the machine's cores: short-lived threads, for jobs
// big enough that starting one (some tens of microseconds) is nothing next to
// its share.
#pragma once

#include <algorithm>
#include <atomic>
#include <cstddef>
#include <exception>
#include <thread>
#include <vector>

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

}  // namespace dravel
