// The main queue of the real process, on GLib's main loop.
#pragma once

#include <glib.h>

#include <map>
#include <vector>

#include "channels/main_queue.h"

namespace dravel {

class GLibMainQueue : public MainQueue {
 public:
  // Uses the given context (the default context when null).
  explicit GLibMainQueue(GMainContext* context = nullptr);
  ~GLibMainQueue() override;

  void async(Task task) override;
  void asyncAfter(double seconds, Task task) override;
  double now() const override;
  TimerId addModalTimer(double interval, Task task) override;
  void cancelTimer(TimerId id) override;
  void runModal() override;
  void stopModal() override;
  bool inModal() const override { return !modalLoops_.empty(); }

  // Runs the main loop until quit() is called.
  void run();
  // Ends the main loop and every modal run inside it; modal runs asked for
  // afterwards return at once, so a stop is never held up by an alert.
  void quit();
  GMainContext* context() const { return context_; }

 private:
  struct ModalTimer;
  static gboolean onModalTimer(gpointer data);

  GMainContext* context_;
  GMainLoop* loop_;
  std::vector<GMainLoop*> modalLoops_;
  bool quitting_ = false;
  std::map<TimerId, ModalTimer*> modalTimers_;
  TimerId nextTimer_ = 1;
};

}  // namespace dravel
