// Whether the process has been asked to stop. Set from a signal handler (a
// lock-free atomic store), read by long work on any thread, including work
// that holds the main thread, so that it gives up instead of keeping the stop
// waiting.
#pragma once

namespace dravel {

// Async-signal-safe. Once set, stays set.
void requestProcessStop() noexcept;
bool processStopRequested() noexcept;

}  // namespace dravel
