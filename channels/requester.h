// Whether the party that sent a call is still there to read its answer.
//
// A messenger that can tell (the local socket) gives every connection one
// `Requester` and marks it gone when the connection closes. While it runs a
// handler, the messenger installs that connection's requester as the current
// one (`ScopedRequester`); a `FlutterResult` made during the handler keeps it,
// so work that answers later can ask `result.requesterGone()` and skip or
// cancel what nobody will read. Calls from a messenger that cannot tell (the
// in-process pair) get a requester that never goes.
#pragma once

#include <atomic>
#include <cstdint>
#include <functional>
#include <map>
#include <memory>

namespace dravel {

class Requester {
 public:
  Requester() = default;
  Requester(const Requester&) = delete;
  Requester& operator=(const Requester&) = delete;

  // Any thread: worker threads poll this to abandon work early.
  bool gone() const { return gone_.load(std::memory_order_acquire); }

  // Main thread. Runs `callback` once, on the main thread, when the requester
  // goes (at once when it is already gone). Returns a number for
  // `removeOnGone`; 0 when the callback already ran.
  uint64_t onGone(std::function<void()> callback);
  void removeOnGone(uint64_t token);

  // Main thread; called by the messenger. Runs the callbacks once.
  void markGone();

 private:
  std::atomic<bool> gone_{false};
  uint64_t nextToken_ = 1;
  std::map<uint64_t, std::function<void()>> callbacks_;
};

// The requester of the call being dispatched on the main thread right now;
// a fresh one that never goes when no messenger installed one.
std::shared_ptr<Requester> currentRequester();

// Installs `requester` as the current one for the lifetime of this object.
class ScopedRequester {
 public:
  explicit ScopedRequester(std::shared_ptr<Requester> requester);
  ~ScopedRequester();
  ScopedRequester(const ScopedRequester&) = delete;
  ScopedRequester& operator=(const ScopedRequester&) = delete;

 private:
  std::shared_ptr<Requester> previous_;
};

}  // namespace dravel
