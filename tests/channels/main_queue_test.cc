#include <gtest/gtest.h>

#include <string>
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

// A queue on a private context.
class GLibMainQueueTest : public ::testing::Test {
 protected:
  ~GLibMainQueueTest() override { g_main_context_unref(context_); }
  GMainContext* context_ = g_main_context_new();
};

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
