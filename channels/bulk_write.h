// A big message written to a socket on a thread of its own: copying tens of
// megabytes into a socket is milliseconds of work that the thread running a
// GLib main context would otherwise do while everything else on it waits.
#pragma once

#include <glib.h>

#include <atomic>
#include <cstddef>
#include <functional>
#include <memory>

#include "channels/message.h"

namespace dravel {

class BulkWrite {
 public:
  // Called on the context's thread: the bytes written, and errno when the
  // socket failed (0 when all was written or the write was cancelled).
  using Done = std::function<void(size_t written, int error)>;

  // Writes `message` from `offset` on to a duplicate of `fd` until it is all
  // out, the socket fails or the write is cancelled, then hands the outcome
  // to `done` on `context`. Null when no thread or descriptor could be had.
  static std::shared_ptr<BulkWrite> start(int fd, Message message, size_t offset,
                                          GMainContext* context, Done done);

  // Stops the writing soon (within a tenth of a second when the socket is
  // full; shutting the socket down stops it at once).
  void cancel() { cancelled_ = true; }

 private:
  std::atomic<bool> cancelled_{false};
};

}  // namespace dravel
