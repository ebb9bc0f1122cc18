// The system log: one line per event, no levels.
#pragma once

#include <chrono>
#include <condition_variable>
#include <cstdarg>
#include <cstdint>
#include <deque>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <thread>
#include <vector>

namespace dravel {

class LogSink {
 public:
  virtual ~LogSink() = default;
  virtual void write(const std::string& line) = 0;
};

// Writes one line to every installed sink. printf-style, like the platform's NSLog.
void NSLog(const char* format, ...) __attribute__((format(printf, 1, 2)));
void logLine(const std::string& line);

// Sinks are process-wide; adding and removing them is thread-safe.
void addLogSink(std::shared_ptr<LogSink> sink);
void removeLogSink(const std::shared_ptr<LogSink>& sink);

// Standard error, one line per event with a time stamp.
class StderrLogSink : public LogSink {
 public:
  void write(const std::string& line) override;
};

// The system's syslog under the given identity.
class SyslogLogSink : public LogSink {
 public:
  explicit SyslogLogSink(const char* ident);
  ~SyslogLogSink() override;
  void write(const std::string& line) override;
};

// Folds runs of one repeated line. The first of a run is written; identical
// lines that follow within `window` of it are held and counted, and once the
// window ends (or another line comes) a single line stands for them:
//
//   <the line> ... repeated N times
//
// where N counts the held lines, not the one written first. A repeat after the
// window starts a new run. Times are given by the caller, so that tests can
// control the clock.
class LogFolder {
 public:
  using Clock = std::chrono::steady_clock;

  explicit LogFolder(Clock::duration window) : window_(window) {}

  // The lines to write for `line`, arriving at `now`: none while it repeats
  // the run's line within the window; otherwise the summary of the run (if
  // lines were held) and then the line itself.
  std::vector<std::string> add(const std::string& line, Clock::time_point now);
  // The summary of the run once its window has ended by `now`.
  std::optional<std::string> expire(Clock::time_point now);
  // The summary of the run at once, whatever the time (when the log closes).
  std::optional<std::string> flush();
  // When the run's window ends, while lines are held.
  std::optional<Clock::time_point> deadline() const;

  static std::string summary(const std::string& line, uint64_t repeats);

 private:
  Clock::duration window_;
  std::string line_;
  bool inRun_ = false;
  Clock::time_point runStart_{};
  uint64_t held_ = 0;
};

// Puts a slow sink (standard error into a full pipe, a syslog that stalls)
// behind a queue written by a thread of its own, so that logging never blocks
// the thread that logs, and folds repeated lines (LogFolder) before they are
// queued. When the queue is full, lines are dropped and counted; the next
// line that finds room is preceded by
//
//   [log] N lines dropped: the log could not keep up
class ThrottledLogSink : public LogSink {
 public:
  struct Options {
    LogFolder::Clock::duration foldWindow = std::chrono::seconds(10);
    size_t queueCapacity = 4096;
    // How long closing waits for queued lines to reach a target that blocks.
    LogFolder::Clock::duration drainTimeout = std::chrono::milliseconds(200);
  };

  explicit ThrottledLogSink(std::shared_ptr<LogSink> target);
  ThrottledLogSink(std::shared_ptr<LogSink> target, Options options);
  // Writes what is queued and the held repeats, waiting for the target at
  // most drainTimeout; a target still blocked then is left to its thread.
  ~ThrottledLogSink() override;
  ThrottledLogSink(const ThrottledLogSink&) = delete;
  ThrottledLogSink& operator=(const ThrottledLogSink&) = delete;

  void write(const std::string& line) override;
  // Lines dropped so far because the queue was full.
  uint64_t dropped() const;

 private:
  struct State;
  static void run(std::shared_ptr<State> state);
  std::shared_ptr<State> state_;
};

// Keeps every line; for tests and the simulated desktop's state report.
class CapturingLogSink : public LogSink {
 public:
  void write(const std::string& line) override;
  std::vector<std::string> lines() const;
  bool contains(const std::string& line) const;
  size_t count(const std::string& line) const;
  void clear();

 private:
  mutable std::mutex mutex_;
  std::vector<std::string> lines_;
};

// Installs a capturing sink for the lifetime of the object.
class ScopedLogCapture {
 public:
  ScopedLogCapture();
  ~ScopedLogCapture();
  CapturingLogSink& sink() { return *sink_; }
  std::vector<std::string> lines() const { return sink_->lines(); }
  bool contains(const std::string& line) const { return sink_->contains(line); }
  size_t count(const std::string& line) const { return sink_->count(line); }

 private:
  std::shared_ptr<CapturingLogSink> sink_;
};

}  // namespace dravel
