// The "sim/desktop" channel, served only on the simulated desktop: load a
// scenario, read the observable state, and perform simulated user actions.
#pragma once

#include <deque>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "channels/binary_messenger.h"
#include "channels/log.h"
#include "channels/value.h"

namespace dravel::sim {

inline constexpr const char* kSimDesktopChannel = "sim/desktop";

class SimDesktop;

// Keeps the most recent log lines for the "log" state.
class RecentLogSink : public LogSink {
 public:
  explicit RecentLogSink(size_t capacity) : capacity_(capacity) {}
  void write(const std::string& line) override;
  std::vector<std::string> lines() const;

 private:
  size_t capacity_;
  mutable std::mutex mutex_;
  std::deque<std::string> lines_;
};

class SimDesktopChannel {
 public:
  static constexpr size_t kLogCapacity = 10000;

  // Installs the channel's handler on `messenger` and starts keeping log lines.
  SimDesktopChannel(SimDesktop& desktop, FlutterBinaryMessenger& messenger);
  ~SimDesktopChannel();
  SimDesktopChannel(const SimDesktopChannel&) = delete;
  SimDesktopChannel& operator=(const SimDesktopChannel&) = delete;

  // Every section's state, plus "log": the lines written since the channel began.
  Value state() const;

 private:
  SimDesktop& desktop_;
  FlutterBinaryMessenger& messenger_;
  std::shared_ptr<RecentLogSink> log_;
};

}  // namespace dravel::sim
