#include "channels/glib_main_queue.h"

namespace dravel {
namespace {

struct TaskBox {
  Task task;
};

gboolean runTaskOnce(gpointer data) {
  static_cast<TaskBox*>(data)->task();
  return G_SOURCE_REMOVE;
}

void deleteTaskBox(gpointer data) {
  delete static_cast<TaskBox*>(data);
}

}  // namespace

struct GLibMainQueue::ModalTimer {
  GLibMainQueue* queue;
  Task task;
  guint sourceId;
};

GLibMainQueue::GLibMainQueue(GMainContext* context)
    : context_(context ? g_main_context_ref(context)
                       : g_main_context_ref(g_main_context_default())),
      loop_(g_main_loop_new(context_, FALSE)) {}

GLibMainQueue::~GLibMainQueue() {
  for (auto& [id, timer] : modalTimers_) {
    GSource* source = g_main_context_find_source_by_id(context_, timer->sourceId);
    if (source) g_source_destroy(source);  // frees the timer
  }
  g_main_loop_unref(loop_);
  g_main_context_unref(context_);
}

void GLibMainQueue::async(Task task) {
  // g_source_attach is thread-safe and wakes the context.
  GSource* source = g_idle_source_new();
  g_source_set_priority(source, G_PRIORITY_DEFAULT);
  g_source_set_callback(source, runTaskOnce, new TaskBox{std::move(task)}, deleteTaskBox);
  g_source_attach(source, context_);
  g_source_unref(source);
}

void GLibMainQueue::asyncAfter(double seconds, Task task) {
  if (seconds < 0) seconds = 0;
  GSource* source = g_timeout_source_new(static_cast<guint>(seconds * 1000.0 + 0.5));
  g_source_set_callback(source, runTaskOnce, new TaskBox{std::move(task)}, deleteTaskBox);
  g_source_attach(source, context_);
  g_source_unref(source);
}

double GLibMainQueue::now() const {
  return static_cast<double>(g_get_monotonic_time()) / 1e6;
}

gboolean GLibMainQueue::onModalTimer(gpointer data) {
  auto* timer = static_cast<ModalTimer*>(data);
  // Outside a modal run the timer keeps its schedule but does nothing.
  if (timer->queue->inModal()) {
    Task task = timer->task;  // the task may cancel the timer
    task();
  }
  return G_SOURCE_CONTINUE;
}

TimerId GLibMainQueue::addModalTimer(double interval, Task task) {
  TimerId id = nextTimer_++;
  auto* timer = new ModalTimer{this, std::move(task), 0};
  GSource* source = g_timeout_source_new(static_cast<guint>(interval * 1000.0 + 0.5));
  // The source owns the timer: destroying the source frees it, after the
  // callback has returned when the timer cancels itself.
  g_source_set_callback(source, onModalTimer, timer,
                        [](gpointer data) { delete static_cast<ModalTimer*>(data); });
  timer->sourceId = g_source_attach(source, context_);
  g_source_unref(source);
  modalTimers_[id] = timer;
  return id;
}

void GLibMainQueue::cancelTimer(TimerId id) {
  auto it = modalTimers_.find(id);
  if (it == modalTimers_.end()) return;
  ModalTimer* timer = it->second;
  modalTimers_.erase(it);
  GSource* source = g_main_context_find_source_by_id(context_, timer->sourceId);
  if (source) g_source_destroy(source);
}

void GLibMainQueue::runModal() {
  if (quitting_) return;
  GMainLoop* loop = g_main_loop_new(context_, FALSE);
  modalLoops_.push_back(loop);
  g_main_loop_run(loop);
  modalLoops_.pop_back();
  g_main_loop_unref(loop);
}

void GLibMainQueue::stopModal() {
  if (!modalLoops_.empty()) g_main_loop_quit(modalLoops_.back());
}

void GLibMainQueue::run() {
  quitting_ = false;
  g_main_loop_run(loop_);
}

void GLibMainQueue::quit() {
  quitting_ = true;
  for (GMainLoop* loop : modalLoops_) g_main_loop_quit(loop);
  g_main_loop_quit(loop_);
}

}  // namespace dravel
