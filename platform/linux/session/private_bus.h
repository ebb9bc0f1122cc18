// A private connection to the session bus for a worker thread: its own
// connection (so that a blocked main thread never holds it up, and it never
// ends the process when the bus goes), whose answers come to a main context
// the worker iterates itself.
#pragma once

#include <gio/gio.h>

#include <string>

namespace dravel::linux_platform {

// Makes `context` this thread's default while in scope, so that the answers
// of asynchronous calls come to it.
class ThreadDefaultContext {
 public:
  explicit ThreadDefaultContext(GMainContext* context) : context_(g_main_context_ref(context)) {
    g_main_context_push_thread_default(context_);
  }
  ~ThreadDefaultContext() {
    g_main_context_pop_thread_default(context_);
    g_main_context_unref(context_);
  }
  ThreadDefaultContext(const ThreadDefaultContext&) = delete;
  ThreadDefaultContext& operator=(const ThreadDefaultContext&) = delete;

 private:
  GMainContext* context_;
};

// An error's message without GDBus's prefix naming the remote error ("no
// answer" without an error).
std::string busErrorText(const GError* error);

// A new connection to the session bus, made with `context` as the thread's
// default; null with `why` ("no session bus: ...") when there is none.
GDBusConnection* connectPrivateSessionBus(GMainContext* context, std::string* why);

// Closes `connection`, lets the answers of its cancelled calls run on
// `context`, and releases both.
void closePrivateSessionBus(GMainContext* context, GDBusConnection* connection);

}  // namespace dravel::linux_platform
