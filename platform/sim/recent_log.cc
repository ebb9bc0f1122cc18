#include "platform/sim/recent_log.h"

namespace dravel::sim {

void RecentLogSink::write(const std::string& line) {
  std::lock_guard<std::mutex> lock(mutex_);
  lines_.push_back(line);
  while (lines_.size() > capacity_) lines_.pop_front();
}

std::vector<std::string> RecentLogSink::lines() const {
  std::lock_guard<std::mutex> lock(mutex_);
  return {lines_.begin(), lines_.end()};
}

RecentLog::RecentLog() : sink_(std::make_shared<RecentLogSink>(kCapacity)) {
  addLogSink(sink_);
}

RecentLog::~RecentLog() {
  removeLogSink(sink_);
}

}  // namespace dravel::sim
