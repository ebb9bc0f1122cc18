#include "channels/log.h"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <future>
#include <semaphore>

namespace dravel {
namespace {

using namespace std::chrono_literals;
using Lines = std::vector<std::string>;

// A target stuck in its first write until released, as standard error is
// into a pipe nobody reads.
struct StuckSink : LogSink {
  std::binary_semaphore entered{0}, released{0};
  std::atomic<bool> first{true};
  Lines lines;  // read once the sink's writer has ended
  void write(const std::string& line) override {
    if (first.exchange(false)) entered.release(), released.acquire();
    lines.push_back(line);
  }
};

TEST(ThrottledLogSinkTest, NeverBlocksOnAStuckTargetAndBoundsWhatItHolds) {
  auto target = std::make_shared<StuckSink>();
  ThrottledLogSink::Options options;
  options.queueCapacity = 8;
  options.drainTimeout = 20s;
  auto sink = std::make_unique<ThrottledLogSink>(target, options);
  sink->write("line 0");
  target->entered.acquire();
  auto writes = std::async(std::launch::async, [&] {
    for (int i = 1; i <= 1000; ++i) sink->write("line " + std::to_string(i));
  });
  const bool tookAll = writes.wait_for(20s) == std::future_status::ready;
  target->released.release();
  writes.wait();
  EXPECT_TRUE(tookAll) << "a stuck target held up the writer";
  EXPECT_EQ(sink->dropped(), 1000u - options.queueCapacity);
  sink.reset();
  // What the queue held, and the count of what it dropped.
  EXPECT_EQ(target->lines.size(), 1 + options.queueCapacity + 1);
}

}  // namespace
}  // namespace dravel
