#include "channels/log.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <mutex>
#include <thread>

namespace dravel {
namespace {

using namespace std::chrono_literals;
using Lines = std::vector<std::string>;

TEST(LogFolderTest, FoldsRepeatsWithinTheWindowAndSaysHowMany) {
  LogFolder folder(10s);
  const LogFolder::Clock::time_point t0{};
  EXPECT_EQ(folder.add("[socket] bad", t0), Lines{"[socket] bad"});
  for (int i = 1; i <= 5; ++i) EXPECT_EQ(folder.add("[socket] bad", t0 + i * 1s), Lines{});
  EXPECT_EQ(folder.deadline(), t0 + 10s);
  // Another line ends the run at once.
  EXPECT_EQ(folder.add("[host] other", t0 + 6s),
            (Lines{"[socket] bad ... repeated 5 times", "[host] other"}));
  EXPECT_FALSE(folder.deadline()) << "nothing held";

  // Held repeats are told when their window ends, not before.
  EXPECT_EQ(folder.add("[host] other", t0 + 7s), Lines{});
  EXPECT_FALSE(folder.expire(t0 + 15s));
  EXPECT_EQ(folder.expire(t0 + 16s), "[host] other ... repeated 1 times");
  EXPECT_FALSE(folder.expire(t0 + 18s));

  // After the window a repeat is written again and starts a new run; a line
  // repeated only once is not followed by a summary.
  EXPECT_EQ(folder.add("x", t0 + 20s), Lines{"x"});
  EXPECT_EQ(folder.add("x", t0 + 30s), Lines{"x"});
  EXPECT_EQ(folder.add("x", t0 + 31s), Lines{});
  EXPECT_EQ(folder.add("y", t0 + 32s), (Lines{"x ... repeated 1 times", "y"}));
  EXPECT_FALSE(folder.flush());
  EXPECT_EQ(folder.add("y", t0 + 33s), Lines{"y"}) << "flush ends the run";
}

// A target that blocks every write until released, as standard error does
// into a pipe nobody reads; once released, it records.
class BlockingSink : public LogSink {
 public:
  void write(const std::string& line) override {
    std::unique_lock<std::mutex> lock(mutex_);
    entered_ = true;
    changed_.notify_all();
    changed_.wait(lock, [&] { return released_; });
    lines_.push_back(line);
  }
  void waitEntered() {
    std::unique_lock<std::mutex> lock(mutex_);
    changed_.wait(lock, [&] { return entered_; });
  }
  void release() {
    std::lock_guard<std::mutex> lock(mutex_);
    released_ = true;
    changed_.notify_all();
  }
  Lines lines() {
    std::lock_guard<std::mutex> lock(mutex_);
    return lines_;
  }

 private:
  std::mutex mutex_;
  std::condition_variable changed_;
  bool entered_ = false;
  bool released_ = false;
  Lines lines_;
};

TEST(ThrottledLogSinkTest, NeverBlocksOnAStuckTargetAndCountsWhatItDrops) {
  auto target = std::make_shared<BlockingSink>();
  ThrottledLogSink::Options options;
  options.queueCapacity = 8;
  options.drainTimeout = 20s;
  auto sink = std::make_unique<ThrottledLogSink>(target, options);
  sink->write("line 0");
  target->waitEntered();

  // With the target stuck, a thousand more lines are taken without waiting.
  std::atomic<bool> done{false};
  std::thread logger([&] {
    for (int i = 1; i <= 1000; ++i) sink->write("line " + std::to_string(i));
    done = true;
  });
  for (int i = 0; i < 2000 && !done; ++i) std::this_thread::sleep_for(10ms);
  const bool finishedWhileStuck = done;
  target->release();
  logger.join();
  EXPECT_TRUE(finishedWhileStuck);
  const uint64_t dropped = sink->dropped();
  EXPECT_EQ(dropped, 1000u - options.queueCapacity);
  sink.reset();  // writes the rest

  const Lines lines = target->lines();
  ASSERT_EQ(lines.size(), 1 + options.queueCapacity + 1);
  EXPECT_EQ(lines[0], "line 0");
  EXPECT_EQ(lines[8], "line 8");
  EXPECT_EQ(lines.back(),
            "[log] " + std::to_string(dropped) + " lines dropped: the log could not keep up");
}

TEST(ThrottledLogSinkTest, FoldsALoopOfOneErrorAndTellsTheCountOnItsOwn) {
  auto target = std::make_shared<BlockingSink>();
  target->release();
  ThrottledLogSink::Options options;
  options.foldWindow = 200ms;
  auto sink = std::make_unique<ThrottledLogSink>(target, options);
  for (int i = 0; i < 500; ++i) sink->write("[channels] x: undecodable call (bad)");
  // The summary comes when the window ends, without another line to push it.
  for (int i = 0; i < 2000 && target->lines().size() < 2; ++i) std::this_thread::sleep_for(10ms);
  EXPECT_EQ(target->lines(),
            (Lines{"[channels] x: undecodable call (bad)",
                   "[channels] x: undecodable call (bad) ... repeated 499 times"}));
  sink->write("[host] stopping");
  sink.reset();
  EXPECT_EQ(target->lines().back(), "[host] stopping");
}

}  // namespace
}  // namespace dravel
