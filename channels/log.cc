#include "channels/log.h"

#include <errno.h>
#include <sys/uio.h>
#include <syslog.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <ctime>
#include <iostream>
#include <new>

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

// Logging never ends the process: a line that cannot be made or written for
// want of memory is dropped, whichever thread logs it.
void logLine(const std::string& line) {
  std::vector<std::shared_ptr<LogSink>> copy;
  try {
    std::lock_guard<std::mutex> lock(sinksMutex());
    copy = sinks();
  } catch (const std::bad_alloc&) {
    return;
  }
  for (auto& sink : copy) {
    try {
      sink->write(line);
    } catch (const std::bad_alloc&) {
    }
  }
}

void NSLog(const char* format, ...) {
  va_list args;
  va_start(args, format);
  va_list again;
  va_copy(again, args);
  int n = std::vsnprintf(nullptr, 0, format, args);
  va_end(args);
  std::string line;
  try {
    if (n > 0) {
      line.resize(static_cast<size_t>(n) + 1);
      std::vsnprintf(line.data(), line.size(), format, again);
      line.resize(static_cast<size_t>(n));
    }
  } catch (const std::bad_alloc&) {
    va_end(again);
    return;
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

std::vector<std::string> LogFolder::add(const std::string& line, Clock::time_point now) {
  std::vector<std::string> out;
  if (inRun_ && line == line_ && now - runStart_ < window_) {
    ++held_;
    return out;
  }
  if (auto summary = flush()) out.push_back(std::move(*summary));
  line_ = line;
  inRun_ = true;
  runStart_ = now;
  out.push_back(line);
  return out;
}

std::optional<std::string> LogFolder::expire(Clock::time_point now) {
  if (!inRun_ || now - runStart_ < window_) return std::nullopt;
  return flush();
}

std::optional<std::string> LogFolder::flush() {
  std::optional<std::string> out;
  if (inRun_ && held_ > 0) out = summary(line_, held_);
  inRun_ = false;
  held_ = 0;
  line_.clear();
  return out;
}

std::optional<LogFolder::Clock::time_point> LogFolder::deadline() const {
  if (!inRun_ || held_ == 0) return std::nullopt;
  return runStart_ + window_;
}

std::string LogFolder::summary(const std::string& line, uint64_t repeats) {
  return line + " ... repeated " + std::to_string(repeats) + " times";
}

// Shared with the writer thread, which may outlive the sink when its target
// blocks at the end.
struct ThrottledLogSink::State {
  State(std::shared_ptr<LogSink> target_, Options options_)
      : target(std::move(target_)), options(options_), folder(options_.foldWindow) {}

  std::shared_ptr<LogSink> target;
  Options options;
  std::mutex mutex;
  std::condition_variable wake;     // for the writer: lines, a deadline or the end
  std::condition_variable drained;  // for the closing sink: the writer finished
  LogFolder folder;
  std::deque<std::string> queue;
  uint64_t dropped = 0;
  uint64_t droppedUnreported = 0;
  bool stopping = false;
  bool finished = false;

  // With the mutex held.
  void enqueue(std::string line) {
    if (queue.size() >= options.queueCapacity) {
      ++dropped;
      ++droppedUnreported;
      return;
    }
    reportDrops();
    queue.push_back(std::move(line));
  }

  // The report takes the place of the lines it stands for; it may go one
  // past the capacity.
  void reportDrops() {
    if (droppedUnreported == 0) return;
    queue.push_back("[log] " + std::to_string(droppedUnreported) +
                    " lines dropped: the log could not keep up");
    droppedUnreported = 0;
  }
};

ThrottledLogSink::ThrottledLogSink(std::shared_ptr<LogSink> target)
    : ThrottledLogSink(std::move(target), Options{}) {}

ThrottledLogSink::ThrottledLogSink(std::shared_ptr<LogSink> target, Options options)
    : state_(std::make_shared<State>(std::move(target), options)) {
  std::thread(&ThrottledLogSink::run, state_).detach();
}

ThrottledLogSink::~ThrottledLogSink() {
  std::unique_lock<std::mutex> lock(state_->mutex);
  state_->stopping = true;
  state_->wake.notify_one();
  state_->drained.wait_for(lock, state_->options.drainTimeout, [&] { return state_->finished; });
}

void ThrottledLogSink::write(const std::string& line) {
  std::lock_guard<std::mutex> lock(state_->mutex);
  if (state_->stopping) return;
  for (std::string& out : state_->folder.add(line, LogFolder::Clock::now())) {
    state_->enqueue(std::move(out));
  }
  state_->wake.notify_one();
}

uint64_t ThrottledLogSink::dropped() const {
  std::lock_guard<std::mutex> lock(state_->mutex);
  return state_->dropped;
}

void ThrottledLogSink::run(std::shared_ptr<State> state) {
  std::unique_lock<std::mutex> lock(state->mutex);
  for (;;) {
    if (auto summary = state->folder.expire(LogFolder::Clock::now())) {
      state->enqueue(std::move(*summary));
    }
    if (state->queue.empty() && state->stopping) {
      if (auto summary = state->folder.flush()) state->enqueue(std::move(*summary));
      state->reportDrops();
      if (state->queue.empty()) break;
    }
    if (state->queue.empty()) {
      if (auto deadline = state->folder.deadline()) {
        state->wake.wait_until(lock, *deadline);
      } else {
        state->wake.wait(lock);
      }
      continue;
    }
    std::string line = std::move(state->queue.front());
    state->queue.pop_front();
    lock.unlock();
    try {
      state->target->write(line);
    } catch (const std::bad_alloc&) {
      // The line is lost; the writer goes on with the next.
    }
    lock.lock();
  }
  state->finished = true;
  state->drained.notify_all();
}

void StderrLogSink::write(const std::string& line) {
  timespec ts{};
  clock_gettime(CLOCK_REALTIME, &ts);
  tm local{};
  localtime_r(&ts.tv_sec, &local);
  char stamp[32];
  std::strftime(stamp, sizeof stamp, "%Y-%m-%d %H:%M:%S", &local);
  char prefix[64];
  const int prefixLength =
      std::snprintf(prefix, sizeof prefix, "%s.%03ld dravel-host: ", stamp, ts.tv_nsec / 1000000);
  if (prefixLength < 0) return;
  char newline[] = "\n";
  // Straight to the descriptor, not through stdio: a write blocked on a full
  // pipe then holds no lock that the rest of the process (its exit included)
  // would wait for. Nothing is allocated, so a line still goes out when
  // memory has run out.
  iovec pieces[3] = {
      {prefix, std::min(static_cast<size_t>(prefixLength), sizeof prefix - 1)},
      {const_cast<char*>(line.data()), line.size()},
      {newline, 1},
  };
  iovec* next = pieces;
  int left = 3;
  while (left > 0) {
    ssize_t n = ::writev(STDERR_FILENO, next, left);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) return;
    size_t written = static_cast<size_t>(n);
    while (left > 0 && written >= next->iov_len) {
      written -= next->iov_len;
      ++next;
      --left;
    }
    if (left > 0) {
      next->iov_base = static_cast<char*>(next->iov_base) + written;
      next->iov_len -= written;
    }
  }
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
