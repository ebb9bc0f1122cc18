// What the tests of the host socket share: a private GLib context pumped by
// the test's thread, and sockets bound by hand.
#pragma once

#include <glib.h>
#include <gtest/gtest.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

#include <cstring>
#include <functional>
#include <string>
#include <vector>

namespace dravel::testing {

// A private main context that wakes every 5 ms, so that pumping it never
// blocks for long.
class PumpedContext {
 public:
  PumpedContext() : context_(g_main_context_new()), tick_(g_timeout_source_new(5)) {
    g_source_set_callback(
        tick_, [](gpointer) { return gboolean(G_SOURCE_CONTINUE); }, nullptr, nullptr);
    g_source_attach(tick_, context_);
  }
  ~PumpedContext() {
    g_source_destroy(tick_);
    g_source_unref(tick_);
    g_main_context_unref(context_);
  }
  PumpedContext(const PumpedContext&) = delete;
  PumpedContext& operator=(const PumpedContext&) = delete;

  GMainContext* get() const { return context_; }
  // Runs the context until `done` holds; false when `seconds` pass first.
  bool pumpUntil(const std::function<bool()>& done, double seconds = 10) {
    const gint64 deadline = g_get_monotonic_time() + static_cast<gint64>(seconds * 1e6);
    while (!done()) {
      if (g_get_monotonic_time() > deadline) return false;
      g_main_context_iteration(context_, TRUE);
    }
    return true;
  }

 private:
  GMainContext* context_;
  GSource* tick_;
};

inline sockaddr_un socketAddress(const std::string& path) {
  sockaddr_un addr{};
  addr.sun_family = AF_UNIX;
  std::strncpy(addr.sun_path, path.c_str(), sizeof addr.sun_path - 1);
  return addr;
}

// A socket bound at `path`, listening with `backlog` unless it is negative.
inline int boundSocket(const std::string& path, int backlog = -1) {
  const int fd = ::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
  const sockaddr_un addr = socketAddress(path);
  EXPECT_EQ(::bind(fd, reinterpret_cast<const sockaddr*>(&addr), sizeof addr), 0) << path;
  if (backlog >= 0) {
    EXPECT_EQ(::listen(fd, backlog), 0) << path;
  }
  return fd;
}

// Connections to the listener at `path`, made until its backlog is full (a
// host that takes no connections); the caller closes them.
inline std::vector<int> fillBacklog(const std::string& path) {
  const sockaddr_un at = socketAddress(path);
  std::vector<int> queued;
  while (queued.size() < 64) {
    const int fd = ::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0);
    if (::connect(fd, reinterpret_cast<const sockaddr*>(&at), sizeof at) != 0) {
      ::close(fd);
      break;
    }
    queued.push_back(fd);
  }
  return queued;
}

}  // namespace dravel::testing
