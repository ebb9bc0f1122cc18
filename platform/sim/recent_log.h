// The host's log lines as the simulated desktop reports them ("log" state).
#pragma once

#include <deque>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "channels/log.h"

namespace dravel::sim {

// Keeps the most recent log lines, oldest first.
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

// A RecentLogSink installed for the lifetime of the object. The simulated
// desktop holds one from its construction, before the host is launched, so
// that the lines of the host's start-up are kept with the rest.
class RecentLog {
 public:
  static constexpr size_t kCapacity = 10000;

  RecentLog();
  ~RecentLog();
  RecentLog(const RecentLog&) = delete;
  RecentLog& operator=(const RecentLog&) = delete;

  std::vector<std::string> lines() const { return sink_->lines(); }

 private:
  std::shared_ptr<RecentLogSink> sink_;
};

}  // namespace dravel::sim
