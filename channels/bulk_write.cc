#include "channels/bulk_write.h"

#include <errno.h>
#include <fcntl.h>
#include <poll.h>
#include <sys/socket.h>
#include <sys/uio.h>
#include <unistd.h>

#include <system_error>
#include <thread>
#include <vector>

#include "channels/frame.h"

namespace dravel {
namespace {

void hand(GMainContext* context, std::function<void()> task) {
  g_main_context_invoke_full(
      context, G_PRIORITY_DEFAULT,
      [](gpointer data) -> gboolean {
        (*static_cast<std::function<void()>*>(data))();
        return G_SOURCE_REMOVE;
      },
      new std::function<void()>(std::move(task)),
      [](gpointer data) { delete static_cast<std::function<void()>*>(data); });
}

}  // namespace

std::shared_ptr<BulkWrite> BulkWrite::start(int fd, Message message, size_t offset,
                                            GMainContext* context, Done done) {
  const int copy = ::fcntl(fd, F_DUPFD_CLOEXEC, 0);
  if (copy < 0) return nullptr;
  auto job = std::make_shared<BulkWrite>();
  g_main_context_ref(context);
  auto write = [copy, message = std::move(message), offset, job, context,
                done = std::move(done)]() mutable {
    size_t written = 0;
    int error = 0;
    const size_t total = message.size() - offset;
    while (written < total && !job->cancelled_.load()) {
      std::vector<iovec> iov;
      size_t skip = offset + written;
      appendIovecs(message, skip, iov);
      msghdr msg{};
      msg.msg_iov = iov.data();
      msg.msg_iovlen = iov.size();
      const ssize_t n = ::sendmsg(copy, &msg, MSG_NOSIGNAL | MSG_DONTWAIT);
      if (n >= 0) {
        written += static_cast<size_t>(n);
        continue;
      }
      if (errno == EINTR) continue;
      if (errno != EAGAIN && errno != EWOULDBLOCK) {
        error = errno;
        break;
      }
      // Looks at the cancel again at least ten times a second.
      pollfd p{copy, POLLOUT, 0};
      ::poll(&p, 1, 100);
    }
    ::close(copy);
    // The pixels go on the thread that lets go of them last.
    message = Message();
    hand(context, [done = std::move(done), written, error] { done(written, error); });
    g_main_context_unref(context);
  };
  try {
    std::thread(std::move(write)).detach();
  } catch (const std::system_error&) {
    // The lambda (and with it the duplicate's number) was not taken.
    g_main_context_unref(context);
    ::close(copy);
    return nullptr;
  }
  return job;
}

}  // namespace dravel
