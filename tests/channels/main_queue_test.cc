#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "channels/glib_main_queue.h"

namespace dravel {
namespace {

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
