#include <gtest/gtest.h>

#include <atomic>
#include <string>
#include <thread>
#include <vector>

#include "channels/glib_main_queue.h"
#include "channels/virtual_main_queue.h"

namespace dravel {
namespace {

TEST(VirtualMainQueueTest, DelayedTasksRunAtTheirTimeInOrder) {
  VirtualMainQueue q;
  std::vector<std::string> ran;
  q.asyncAfter(2.0, [&] { ran.push_back("b@" + std::to_string(q.now())); });
  q.asyncAfter(0.3, [&] {
    ran.push_back("a");
    q.asyncAfter(1.0, [&] { ran.push_back("c@" + std::to_string(q.now())); });
  });
  q.asyncAfter(0.3, [&] { ran.push_back("a2"); });
  q.advance(0.29);
  EXPECT_TRUE(ran.empty());
  q.advance(0.01);
  EXPECT_EQ(ran, (std::vector<std::string>{"a", "a2"}));
  q.advance(5);
  ASSERT_EQ(ran.size(), 4u);
  EXPECT_EQ(ran[2], "c@" + std::to_string(1.3));
  EXPECT_EQ(ran[3], "b@" + std::to_string(2.0));
  EXPECT_DOUBLE_EQ(q.now(), 5.3);
}

TEST(VirtualMainQueueTest, WorkPostedFromAnotherThreadRunsOnTheCallingThread) {
  VirtualMainQueue q;
  std::thread::id ranOn;
  std::thread worker([&] { q.async([&] { ranOn = std::this_thread::get_id(); }); });
  EXPECT_TRUE(q.runUntil([&] { return ranOn != std::thread::id(); }));
  worker.join();
  EXPECT_EQ(ranOn, std::this_thread::get_id());
}

TEST(VirtualMainQueueTest, ModalTimersFireOnlyInsideAModalRun) {
  VirtualMainQueue q;
  int ticks = 0;
  int outside = 0;
  TimerId early = q.addModalTimer(0.5, [&] { ++outside; });
  q.advance(10);
  EXPECT_EQ(outside, 0);
  q.cancelTimer(early);
  TimerId id = q.addModalTimer(0.5, [&] {
    if (++ticks == 3) {
      q.cancelTimer(id);
      q.stopModal();
    }
  });
  const double start = q.now();
  q.runModal();
  EXPECT_EQ(ticks, 3);
  EXPECT_DOUBLE_EQ(q.now() - start, 1.5);
  EXPECT_FALSE(q.inModal());
}

TEST(VirtualMainQueueTest, ScriptedPressEndsAModalRunAndAnEmptyRunGivesUp) {
  VirtualMainQueue q;
  q.atModalTime(2.0, [&] { q.stopModal(); });
  q.runModal();
  EXPECT_DOUBLE_EQ(q.now(), 2.0);
  q.runModal();  // nothing could ever stop it: returns instead of hanging
  EXPECT_FALSE(q.inModal());
}

TEST(VirtualMainQueueTest, AModalRunInsideAdvanceKeepsItsLaterClock) {
  VirtualMainQueue q;
  // Nothing stops this run but the repeating timer's own limit.
  q.addModalTimer(0.5, [] {});
  q.asyncAfter(1.0, [&] {
    q.atModalTime(4.0, [&] { q.stopModal(); });
    q.runModal();
  });
  q.advance(2.0);
  EXPECT_DOUBLE_EQ(q.now(), 4.0);
  // A forgotten repeating timer gives up after the limit instead of hanging.
  q.runModal();
  EXPECT_FALSE(q.inModal());
  EXPECT_LE(q.now(), 4.0 + VirtualMainQueue::kModalRunLimit);
}

// A queue on a private context.
class GLibMainQueueTest : public ::testing::Test {
 protected:
  ~GLibMainQueueTest() override { g_main_context_unref(context_); }
  GMainContext* context_ = g_main_context_new();
};

TEST_F(GLibMainQueueTest, AsyncFromAnyThreadAndDelaysRunOnTheLoop) {
  GLibMainQueue q(context_);
  std::vector<int> order;
  std::thread worker([&] { q.async([&] { order.push_back(1); }); });
  worker.join();
  q.asyncAfter(0.01, [&] {
    order.push_back(2);
    q.quit();
  });
  q.run();
  EXPECT_EQ(order, (std::vector<int>{1, 2}));
}

TEST_F(GLibMainQueueTest, QuitEndsTheModalRunsItInterrupts) {
  GLibMainQueue q(context_);
  std::vector<std::string> steps;
  TimerId stop = q.addModalTimer(0.005, [&] {
    q.cancelTimer(stop);
    q.quit();
  });
  // Only when the stop did not end a modal run.
  q.addModalTimer(2.0, [&] {
    steps.push_back("modal still running");
    q.stopModal();
  });
  q.async([&] {
    q.runModal();
    steps.push_back("outer modal ended");
    // Asked for after the stop: no run at all.
    q.runModal();
    steps.push_back("later modal returned");
  });
  q.run();
  EXPECT_EQ(steps, (std::vector<std::string>{"outer modal ended", "later modal returned"}));
  EXPECT_FALSE(q.inModal());
}

}  // namespace
}  // namespace dravel
