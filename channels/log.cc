#include "channels/log.h"

#include <syslog.h>

#include <algorithm>
#include <cstdio>
#include <ctime>
#include <iostream>

namespace dravel {
namespace {

std::mutex& sinksMutex() {
  static std::mutex m;
  return m;
}

std::vector<std::shared_ptr<LogSink>>& sinks() {
  static std::vector<std::shared_ptr<LogSink>> s;
  return s;
}

}  // namespace

void logLine(const std::string& line) {
  std::vector<std::shared_ptr<LogSink>> copy;
  {
    std::lock_guard<std::mutex> lock(sinksMutex());
    copy = sinks();
  }
  for (auto& sink : copy) sink->write(line);
}

void NSLog(const char* format, ...) {
  va_list args;
  va_start(args, format);
  va_list again;
  va_copy(again, args);
  int n = std::vsnprintf(nullptr, 0, format, args);
  va_end(args);
  std::string line;
  if (n > 0) {
    line.resize(static_cast<size_t>(n) + 1);
    std::vsnprintf(line.data(), line.size(), format, again);
    line.resize(static_cast<size_t>(n));
  }
  va_end(again);
  logLine(line);
}

void addLogSink(std::shared_ptr<LogSink> sink) {
  std::lock_guard<std::mutex> lock(sinksMutex());
  sinks().push_back(std::move(sink));
}

void removeLogSink(const std::shared_ptr<LogSink>& sink) {
  std::lock_guard<std::mutex> lock(sinksMutex());
  auto& s = sinks();
  s.erase(std::remove(s.begin(), s.end(), sink), s.end());
}

void StderrLogSink::write(const std::string& line) {
  timespec ts{};
  clock_gettime(CLOCK_REALTIME, &ts);
  tm local{};
  localtime_r(&ts.tv_sec, &local);
  char stamp[32];
  std::strftime(stamp, sizeof stamp, "%Y-%m-%d %H:%M:%S", &local);
  std::fprintf(stderr, "%s.%03ld dravel-host: %s\n", stamp, ts.tv_nsec / 1000000, line.c_str());
  std::fflush(stderr);
}

SyslogLogSink::SyslogLogSink(const char* ident) {
  openlog(ident, LOG_PID, LOG_USER);
}
SyslogLogSink::~SyslogLogSink() {
  closelog();
}
void SyslogLogSink::write(const std::string& line) {
  syslog(LOG_NOTICE, "%s", line.c_str());
}

void CapturingLogSink::write(const std::string& line) {
  std::lock_guard<std::mutex> lock(mutex_);
  lines_.push_back(line);
}

std::vector<std::string> CapturingLogSink::lines() const {
  std::lock_guard<std::mutex> lock(mutex_);
  return lines_;
}

bool CapturingLogSink::contains(const std::string& line) const {
  return count(line) > 0;
}

size_t CapturingLogSink::count(const std::string& line) const {
  std::lock_guard<std::mutex> lock(mutex_);
  return static_cast<size_t>(std::count(lines_.begin(), lines_.end(), line));
}

void CapturingLogSink::clear() {
  std::lock_guard<std::mutex> lock(mutex_);
  lines_.clear();
}

ScopedLogCapture::ScopedLogCapture() : sink_(std::make_shared<CapturingLogSink>()) {
  addLogSink(sink_);
}
ScopedLogCapture::~ScopedLogCapture() {
  removeLogSink(sink_);
}

}  // namespace dravel
