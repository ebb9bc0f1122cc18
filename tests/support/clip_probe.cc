#include "tests/support/clip_probe.h"

#include <fcntl.h>
#include <poll.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <climits>
#include <csignal>
#include <cstdio>
#include <fstream>
#include <sstream>
#include <thread>

// gtest before Xlib, whose macros (None, ...) would break it.
#include <gtest/gtest.h>

#include <X11/Xlib.h>

namespace dravel::testing {
namespace {

using Clock = std::chrono::steady_clock;

// Waits for the next event of `window` for which `wanted` holds, up to
// `deadline`. False when none came in time.
bool nextEvent(Display* display, const std::function<bool(const XEvent&)>& wanted, XEvent& event,
               Clock::time_point deadline) {
  for (;;) {
    while (XPending(display) > 0) {
      XNextEvent(display, &event);
      if (wanted(event)) return true;
    }
    const auto left =
        std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now()).count();
    if (left <= 0) return false;
    pollfd fd{ConnectionNumber(display), POLLIN, 0};
    ::poll(&fd, 1, static_cast<int>(left));
  }
}

// Takes the whole of `property` off `window` (deleting it once read), with
// its type.
bool takeProperty(Display* display, Window window, Atom property, Atom& type, ByteBuffer& out) {
  int format = 0;
  unsigned long count = 0;
  unsigned long after = 0;
  unsigned char* data = nullptr;
  if (XGetWindowProperty(display, window, property, 0, LONG_MAX / 4, True, AnyPropertyType, &type,
                         &format, &count, &after, &data) != Success) {
    return false;
  }
  if (data) {
    const size_t unit = format == 32 ? sizeof(long) : format == 16 ? sizeof(short) : 1;
    out.insert(out.end(), data, data + count * unit);
    XFree(data);
  }
  return true;
}

// The reading itself, in the child. `progress` gets a byte per chunk.
ClipboardRead readAsAClient(const std::string& target, const ClipboardReadOptions& options,
                            int progress) {
  ClipboardRead read;
  Display* display = XOpenDisplay(nullptr);
  if (!display) {
    read.error = "no X connection";
    return read;
  }
  const Window window =
      XCreateSimpleWindow(display, DefaultRootWindow(display), 0, 0, 1, 1, 0, 0, 0);
  XSelectInput(display, window, PropertyChangeMask);
  const Atom clipboard = XInternAtom(display, "CLIPBOARD", False);
  const Atom wanted = XInternAtom(display, target.c_str(), False);
  const Atom property = XInternAtom(display, "DRAVEL_CLIP_PROBE", False);
  const Atom incr = XInternAtom(display, "INCR", False);
  const auto patience = std::chrono::milliseconds(static_cast<int>(options.patience * 1000));

  XConvertSelection(display, clipboard, wanted, property, window, CurrentTime);
  XFlush(display);
  XEvent event;
  if (!nextEvent(
          display, [&](const XEvent& e) { return e.type == SelectionNotify; }, event,
          Clock::now() + patience)) {
    read.error = "the owner never answered";
  } else if (event.xselection.property == None) {
    read.error = "the owner refused the target";
  } else {
    Atom type = None;
    ByteBuffer first;
    if (!takeProperty(display, window, event.xselection.property, type, first)) {
      read.error = "the answer could not be read";
    } else if (type != incr) {
      read.data = std::move(first);
      read.complete = true;
    } else {
      // Deleting the INCR property (done when it was read) asks for the
      // first chunk; each chunk is a new value of the property, deleted to
      // ask for the next, until an empty one.
      read.incremental = true;
      for (;;) {
        const bool chunk = nextEvent(
            display,
            [&](const XEvent& e) {
              return e.type == PropertyNotify && e.xproperty.atom == property &&
                     e.xproperty.state == PropertyNewValue;
            },
            event, Clock::now() + patience);
        if (!chunk) {
          read.error = "the transfer stopped after " + std::to_string(read.chunks) + " chunks";
          break;
        }
        if (options.pauseBetweenChunks > 0) {
          std::this_thread::sleep_for(
              std::chrono::milliseconds(static_cast<int>(options.pauseBetweenChunks * 1000)));
        }
        ByteBuffer piece;
        if (!takeProperty(display, window, property, type, piece)) {
          read.error = "a chunk could not be read";
          break;
        }
        if (piece.empty()) {
          read.complete = true;
          break;
        }
        read.data.insert(read.data.end(), piece.begin(), piece.end());
        ++read.chunks;
        const char tick = 1;
        [[maybe_unused]] ssize_t n = ::write(progress, &tick, 1);
      }
    }
  }
  XDestroyWindow(display, window);
  XCloseDisplay(display);
  return read;
}

void save(const ClipboardRead& read, const std::string& path) {
  std::ofstream out(path, std::ios::binary);
  out << read.complete << ' ' << read.incremental << ' ' << read.chunks << '\n'
      << read.error << '\n';
  out.write(reinterpret_cast<const char*>(read.data.data()),
            static_cast<std::streamsize>(read.data.size()));
}

ClipboardRead load(const std::string& path) {
  ClipboardRead read;
  std::ifstream in(path, std::ios::binary);
  std::string line;
  std::getline(in, line);
  std::istringstream(line) >> read.complete >> read.incremental >> read.chunks;
  std::getline(in, read.error);
  read.data.assign(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
  return read;
}

}  // namespace

ClipboardRead readClipboardInAnotherClient(const std::string& target,
                                           const ClipboardReadOptions& options,
                                           const std::function<void(int)>& whileWaiting) {
  const std::string path =
      ::testing::TempDir() + "clip-probe-" + std::to_string(::getpid()) + ".out";
  int progress[2];
  if (::pipe2(progress, O_CLOEXEC | O_NONBLOCK) != 0) {
    ADD_FAILURE() << "no pipe";
    return {};
  }
  std::fflush(nullptr);
  const pid_t child = ::fork();
  if (child == 0) {
    // Only Xlib and plain files here: nothing of this process's toolkit.
    ::close(progress[0]);
    save(readAsAClient(target, options, progress[1]), path);
    ::_exit(0);
  }
  ::close(progress[1]);
  if (child < 0) {
    ::close(progress[0]);
    ADD_FAILURE() << "no child process";
    return {};
  }
  int chunks = 0;
  int status = -1;
  const auto deadline = Clock::now() + std::chrono::seconds(120);
  while (Clock::now() < deadline) {
    char ticks[256];
    for (ssize_t n; (n = ::read(progress[0], ticks, sizeof ticks)) > 0;) chunks += n;
    if (whileWaiting) {
      whileWaiting(chunks);
    } else {
      std::this_thread::sleep_for(std::chrono::milliseconds(2));
    }
    if (::waitpid(child, &status, WNOHANG) == child) break;
  }
  ::close(progress[0]);
  if (!WIFEXITED(status) || WEXITSTATUS(status) != 0) {
    ADD_FAILURE() << "the reading client did not finish";
    ::kill(child, SIGKILL);
    ::waitpid(child, &status, 0);
    return {};
  }
  ClipboardRead read = load(path);
  std::remove(path.c_str());
  return read;
}

}  // namespace dravel::testing
