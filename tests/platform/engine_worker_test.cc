// Delayed tasks on the engine's worker: run in the order they fall due,
// after what was handed over at once, and dropped unrun when the owner goes.
#include "platform/shared/engine_worker.h"

#include <gtest/gtest.h>

#include <chrono>
#include <memory>
#include <mutex>
#include <string>

namespace dravel {
namespace {

using std::chrono::milliseconds;

TEST(EngineWorker, DelayedTasksRunWhenDueAndAreDroppedWhenTheOwnerGoes) {
  std::mutex mutex;
  std::string order;
  auto note = [&](char c) {
    return [&, c] {
      std::lock_guard<std::mutex> lock(mutex);
      order += c;
    };
  };
  auto dropped = std::make_shared<int>(0);
  {
    EngineWorker worker;
    worker.postAfter(milliseconds(60), note('c'));
    worker.postAfter(milliseconds(20), note('b'));
    worker.post(note('a'));
    // Never due while the worker lives: released unrun.
    worker.postAfter(milliseconds(600000), [dropped, &order] { order += 'x'; });
    for (int i = 0; i < 400; ++i) {
      {
        std::lock_guard<std::mutex> lock(mutex);
        if (order.size() == 3) break;
      }
      std::this_thread::sleep_for(milliseconds(5));
    }
    EXPECT_EQ(dropped.use_count(), 2);
  }
  EXPECT_EQ(order, "abc");
  EXPECT_EQ(dropped.use_count(), 1);
}

}  // namespace
}  // namespace dravel
