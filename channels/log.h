// The system log: one line per event, no levels.
#pragma once

#include <cstdarg>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
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
