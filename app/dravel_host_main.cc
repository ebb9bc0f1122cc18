// dravel-host: the host as a process. It starts the way the application
// starts, serves the interface's channels over a local socket, and runs until
// a terminating signal (SIGTERM, SIGINT, SIGHUP and the others of
// kStopSignals) asks it to stop, which it does cleanly, removing its socket.
//
// It serves the real Wayland or X11 desktop, or the simulated one
// (--platform). With --platform auto (the default) it takes Wayland when
// WAYLAND_DISPLAY is set or XDG_SESSION_TYPE says wayland, and X11 when
// DISPLAY names a display otherwise: under Wayland the X server is only a
// compatibility layer whose root window is black, so reading the screen
// through it would hand out garbage.
//
// Exit status: 0 after a stop, 1 a refused scenario, a socket it cannot serve,
// a display or compositor it cannot reach or one that went away while it ran,
// 2 bad usage, a scenario file that cannot be read, or no desktop the host can
// serve.
#include <fcntl.h>
#include <glib-unix.h>
#include <malloc.h>
#include <signal.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <memory>
#include <string>

#include "channels/glib_main_queue.h"
#include "channels/log.h"
#include "channels/socket_messenger.h"
#include "channels/socket_path.h"
#include "channels/stop_request.h"
#include "host/app_delegate.h"
#include "host/capture_handler.h"
#include "host/dravel_plugin.h"
#include "host/launch.h"
#include "host/main_flutter_window.h"
#include "host/sandbox.h"
#include "platform/linux/session/linux_process_info.h"
#include "platform/linux/session/toolkit_leak_suppressions.h"
#include "platform/linux/wayland/wayland_desktop.h"
#include "platform/linux/x11/x11_connection.h"
#include "platform/linux/x11/x11_desktop.h"
#include "platform/sim/json_value.h"
#include "platform/sim/observed_state.h"
#include "platform/sim/scenario.h"
#include "platform/sim/scenario_registry.h"
#include "platform/sim/sim_desktop.h"
#include "platform/sim/sim_desktop_channel.h"

namespace {

using namespace dravel;

const char* const kUsage =
    "usage: dravel-host [--platform wayland|x11|sim|auto] [--scenario FILE] [--socket PATH]\n"
    "  --platform wayland  the Wayland compositor named by WAYLAND_DISPLAY\n"
    "  --platform x11   the X11 desktop named by DISPLAY\n"
    "  --platform sim   the simulated desktop\n"
    "  --platform auto  Wayland in a Wayland session, else X11 when DISPLAY is set\n"
    "                   (the default; with --scenario, the simulated desktop)\n"
    "  --scenario FILE  load a JSON scenario into the simulated desktop first\n"
    "  --socket PATH    serve on PATH instead of the default socket (inside a Flatpak\n"
    "                   sandbox, $XDG_RUNTIME_DIR/app/APP_ID/host.sock)\n";

struct Options {
  std::string platform = "auto";
  std::string scenario;
  std::string socket;
};

// Parses the command line. Returns false (after saying why) on a bad one.
bool parseOptions(int argc, char** argv, Options& options, bool& helpOnly) {
  for (int i = 1; i < argc; ++i) {
    const std::string arg = argv[i];
    auto takeValue = [&](std::string& into) {
      if (i + 1 >= argc) {
        std::fprintf(stderr, "dravel-host: %s needs a value\n%s", arg.c_str(), kUsage);
        return false;
      }
      into = argv[++i];
      return true;
    };
    if (arg == "--help" || arg == "-h") {
      helpOnly = true;
      return true;
    }
    if (arg == "--platform") {
      if (!takeValue(options.platform)) return false;
    } else if (arg == "--scenario") {
      if (!takeValue(options.scenario)) return false;
    } else if (arg == "--socket") {
      if (!takeValue(options.socket)) return false;
    } else {
      std::fprintf(stderr, "dravel-host: unknown argument %s\n%s", arg.c_str(), kUsage);
      return false;
    }
  }
  if (options.platform != "sim" && options.platform != "x11" && options.platform != "wayland" &&
      options.platform != "auto") {
    std::fprintf(stderr, "dravel-host: unknown platform %s (wayland, x11, sim or auto)\n%s",
                 options.platform.c_str(), kUsage);
    return false;
  }
  if (!options.scenario.empty()) {
    if (options.platform == "x11" || options.platform == "wayland") {
      std::fprintf(stderr,
                   "dravel-host: --scenario needs the simulated desktop (--platform sim)\n");
      return false;
    }
    options.platform = "sim";
  }
  return true;
}

std::string environment(const char* name) {
  const char* value = std::getenv(name);
  return value ? value : "";
}

// Why the X11 desktop cannot be served in this session, or nothing when it
// can: a Wayland session, or no display at all.
std::optional<std::string> whyNoX11() {
  if (!environment("WAYLAND_DISPLAY").empty()) {
    return "this is a Wayland session (WAYLAND_DISPLAY is set), where the X11 desktop cannot "
           "read the screen";
  }
  if (environment("XDG_SESSION_TYPE") == "wayland") {
    return "this is a Wayland session (XDG_SESSION_TYPE=wayland), where the X11 desktop cannot "
           "read the screen";
  }
  if (environment("DISPLAY").empty()) return "there is no X display (DISPLAY is unset)";
  return std::nullopt;
}

// Inside a Flatpak sandbox (as the host's sandbox rule reads it) the folder
// the sandbox shares with the user's session is named by the application id:
// the sandbox's own when it is a valid one, else the host's.
std::optional<std::string> sandboxApplicationId() {
  auto id =
      linux_platform::LinuxProcessInfo().environmentValue(linux_platform::kSandboxContainerKey);
  if (!id) return std::nullopt;
  const bool valid = id->find('.') != std::string::npos && id->front() != '.' &&
                     id->find("..") == std::string::npos &&
                     id->find_first_not_of(
                         "abcdefghijklmnopqrstuvwxyzABCDEFGHIJKLMNOPQRSTUVWXYZ"
                         "0123456789._-") == std::string::npos;
  return valid ? *id : std::string(linux_platform::kApplicationId);
}

// The socket to remove when the display goes away under the host.
std::string gSocketToRemove;

// The process cannot outlive its display: the socket goes with it, and the
// reason goes to the log's last line.
void removeSocketAndSay(const std::string& message) {
  if (!gSocketToRemove.empty()) ::unlink(gSocketToRemove.c_str());
  const std::string line = "dravel-host: " + message + ": stopping\n";
  [[maybe_unused]] ssize_t n = ::write(2, line.data(), line.size());
}

// Simulated actions and state that need the host's own objects.
void registerHostExtras(const LaunchedHost& host) {
  std::weak_ptr<AppDelegate> delegate = host.delegate;
  std::weak_ptr<MainFlutterWindow> window = host.window;

  // "reopen" {"hasVisibleWindows": bool}: a click on the application's icon.
  // Without the argument, whether the main window is on screen.
  sim::registerSimAction(
      {"reopen",
       [delegate](const Value& arguments, sim::SimDesktop& desktop, FlutterResult result) {
         auto self = delegate.lock();
         if (!self) {
           result(FlutterError::errorWithCode("unavailable", "no delegate"));
           return;
         }
         bool visible = desktop.mainWindow() && desktop.mainWindow()->isVisible();
         visible = arguments.argumentsOrEmpty().boolAt("hasVisibleWindows").value_or(visible);
         result(Value(self->applicationShouldHandleReopen(visible)));
       }});

  // The main window's state, with the overlay fields the host keeps.
  sim::registerScenarioSection(
      {"mainWindow", nullptr,
       [window](sim::SimDesktop& desktop) -> Value {
         if (!desktop.mainWindow()) return Value();
         ValueMap state = sim::windowState(*desktop.mainWindow());
         if (auto w = window.lock()) {
           state.set("overlayActive", Value(w->overlayActive));
           state.set("savedFrame", sim::rectValue(w->savedFrame));
           state.set("savedStyleMask", Value(static_cast<int64_t>(w->savedStyleMask)));
           state.set("savedLevel", Value(static_cast<int64_t>(w->savedLevel)));
           state.set("savedCollection", Value(static_cast<int64_t>(w->savedCollection)));
           state.set("savedViewBackground",
                     w->savedViewBackground ? sim::colorValue(*w->savedViewBackground) : Value());
         }
         return Value(std::move(state));
       },
       100});
}

// Signals whose default action ends the process and that the host has no
// other use for (with the real-time signals, caught as well): each is a request to stop, served by
// the main loop so that the socket goes. SIGPIPE stays ignored (a vanished client is noticed on its
// connection); SIGKILL and SIGSTOP cannot be caught; SIGSEGV, SIGBUS, SIGFPE,
// SIGILL, SIGABRT and SIGTRAP report faults, not requests, and keep their
// default action.
constexpr int kStopSignals[] = {SIGHUP,  SIGINT,  SIGQUIT,   SIGTERM, SIGUSR1,
                                SIGUSR2, SIGALRM, SIGVTALRM, SIGPROF, SIGXCPU,
                                SIGXFSZ, SIGPOLL, SIGSTKFLT, SIGPWR,  SIGSYS};

// The write end of the pipe that carries a caught signal to the main loop.
int stopPipeWrite = -1;

void onStopSignalCaught(int signal) {
  const int saved = errno;
  // Seen at once by a rendering that holds the main thread.
  requestProcessStop();
  const unsigned char number = static_cast<unsigned char>(signal);
  // A full pipe already holds a stop request.
  [[maybe_unused]] ssize_t n = ::write(stopPipeWrite, &number, 1);
  errno = saved;
}

gboolean onStopRequested(gint fd, GIOCondition, gpointer data) {
  unsigned char number = 0;
  if (::read(fd, &number, 1) == 1) {
    NSLog("[host] signal %d (%s): stopping", number, strsignal(number));
  }
  static_cast<GLibMainQueue*>(data)->quit();
  return G_SOURCE_CONTINUE;
}

// Catches every signal of kStopSignals. The first asks the main loop to stop;
// the handler is reset by it (SA_RESETHAND), so a second one of the same kind
// ends a host that no longer responds the way the signal always would.
// Returns why it cannot, or an empty string.
std::string catchStopSignals(GLibMainQueue& queue) {
  int fds[2];
  if (::pipe2(fds, O_CLOEXEC | O_NONBLOCK) != 0) {
    return std::string("cannot make the signal pipe: ") + std::strerror(errno);
  }
  stopPipeWrite = fds[1];
  GSource* source = g_unix_fd_source_new(fds[0], G_IO_IN);
  g_source_set_callback(source, G_SOURCE_FUNC(onStopRequested), &queue, nullptr);
  g_source_attach(source, queue.context());
  g_source_unref(source);
  struct sigaction action {};
  action.sa_handler = onStopSignalCaught;
  action.sa_flags = SA_RESTART | SA_RESETHAND;
  sigfillset(&action.sa_mask);
  for (int signal : kStopSignals) ::sigaction(signal, &action, nullptr);
  // The real-time signals end a process by default too.
  for (int signal = SIGRTMIN; signal <= SIGRTMAX; ++signal) ::sigaction(signal, &action, nullptr);
  return {};
}

}  // namespace

// Caches of fontconfig and of the toolkit live until the process ends; not
// leaks of the host. Read by LeakSanitizer.
extern "C" const char* __lsan_default_suppressions() {
  return dravel::linux_platform::kToolkitLeakSuppressions;
}

int main(int argc, char** argv) {
  Options options;
  bool helpOnly = false;
  if (!parseOptions(argc, argv, options, helpOnly)) return 2;
  if (helpOnly) {
    std::fputs(kUsage, stdout);
    return 0;
  }
  if (options.platform == "auto") {
    if (linux_platform::isWaylandSession()) {
      options.platform = "wayland";
    } else if (environment("DISPLAY").empty()) {
      std::fprintf(stderr,
                   "dravel-host: there is no display (neither WAYLAND_DISPLAY nor DISPLAY is set); "
                   "to run on the simulated desktop instead, use --platform sim\n");
      return 2;
    }
  }
  if (options.platform == "auto" || options.platform == "x11") {
    if (auto why = whyNoX11()) {
      std::fprintf(stderr,
                   "dravel-host: %s; to run on the simulated desktop instead, use --platform sim\n",
                   why->c_str());
      return 2;
    }
    options.platform = "x11";
  }
  // Unnamed, the socket is the default one; inside a sandbox, the one in the
  // folder Flatpak shares with the session, where dravelctl finds it. Both
  // folders are held to the same checks.
  bool strictFolder = false;
  if (options.socket.empty()) {
    if (auto id = sandboxApplicationId()) options.socket = sandboxSocketPath(*id);
    if (options.socket.empty()) options.socket = defaultSocketPath();
    strictFolder = true;
  }
  ::signal(SIGPIPE, SIG_IGN);

  // The scenario file is read before anything starts: one that cannot be
  // read (missing, a folder, a FIFO, a device, too large) is a usage error.
  std::optional<std::string> scenarioText;
  if (!options.scenario.empty()) {
    std::string why;
    scenarioText = sim::readInputFile(options.scenario, sim::kMaxJsonFileSize, &why);
    if (!scenarioText) {
      std::fprintf(stderr, "dravel-host: scenario %s\n", why.c_str());
      return 2;
    }
  }

  // Behind a queue of their own: a full pipe or a stalled syslog never holds
  // up the main thread, and a line repeated in a loop is folded.
  auto stderrSink = std::make_shared<ThrottledLogSink>(std::make_shared<StderrLogSink>());
  auto syslogSink =
      std::make_shared<ThrottledLogSink>(std::make_shared<SyslogLogSink>("dravel-host"));
  addLogSink(stderrSink);
  addLogSink(syslogSink);

  GLibMainQueue queue;
  setMainQueue(&queue);
  SocketMessenger::Options socketOptions;
  socketOptions.strictFolder = strictFolder;
  // Memory freed after big captures stays in the allocator's arenas (one per
  // thread that allocated) until given back; given back once no client is
  // left, not after each capture, which would cost every round trip.
  socketOptions.whenIdle = [] {
    platform().screenCapture().releaseIdleMemory();
#ifdef __GLIBC__
    malloc_trim(0);
#endif
  };
  auto messenger = std::make_shared<SocketMessenger>(queue.context(), socketOptions);
  // A capture's reply, tens of megabytes, counts against the socket's limits
  // from the moment its call is read, not only once the pixels are there.
  messenger->setReplyCost(kCaptureChannel, &CaptureHandler::expectedReplyBytes);
  std::unique_ptr<sim::SimDesktop> desktop;
  std::unique_ptr<linux_platform::X11Desktop> x11;
  std::unique_ptr<linux_platform::WaylandDesktop> wayland;
  int status = 0;
  if (options.platform == "wayland") {
    std::string why;
    wayland = linux_platform::WaylandDesktop::create(messenger, &why);
    if (!wayland) {
      std::fprintf(stderr, "dravel-host: %s\n", why.c_str());
      status = 1;
    } else {
      gSocketToRemove = options.socket;
      wayland->setDisplayLostHandler(removeSocketAndSay);
      setPlatform(wayland.get());
    }
  } else if (options.platform == "x11") {
    std::string why;
    x11 = linux_platform::X11Desktop::create(messenger, &why);
    if (!x11) {
      std::fprintf(stderr, "dravel-host: %s\n", why.c_str());
      status = 1;
    } else {
      gSocketToRemove = options.socket;
      linux_platform::setDisplayLostHandler(removeSocketAndSay);
      setPlatform(x11.get());
    }
  } else {
    desktop = std::make_unique<sim::SimDesktop>(messenger);
    setPlatform(desktop.get());
  }

  if (status == 0 && scenarioText) {
    auto scenario = sim::valueFromJson(*scenarioText);
    std::string why = std::holds_alternative<std::string>(scenario)
                          ? std::get<std::string>(scenario)
                          : sim::applyScenario(std::get<Value>(scenario), *desktop);
    if (!why.empty()) why = "scenario " + options.scenario + ": " + why;
    if (!why.empty()) {
      std::fprintf(stderr, "dravel-host: %s\n", why.c_str());
      status = 1;
    }
  }
  // Caught before the socket exists: a stop requested while the host starts
  // is served as soon as the main loop runs, and the socket goes then.
  if (status == 0) {
    if (std::string why = catchStopSignals(queue); !why.empty()) {
      std::fprintf(stderr, "dravel-host: %s\n", why.c_str());
      status = 1;
    }
  }
  // Inside a sandbox every copy serves in the one folder Flatpak shares, so
  // a later copy hands itself to the running one before it would meet that
  // copy's socket, and ends as the single-instance step would have it.
  bool handedOver = false;
  if (status == 0 && Sandbox::active() && platform().application().handOverToRunningCopy()) {
    NSLog("[SingleInstance] another copy is running; it comes forward - exiting");
    handedOver = true;
  }
  if (status == 0 && !handedOver) {
    if (auto why = messenger->listen(options.socket)) {
      std::fprintf(stderr, "dravel-host: %s\n", why->c_str());
      status = 1;
    }
  }
  if (status == 0 && !handedOver) {
    LaunchedHost host = launchHost();
    std::unique_ptr<sim::SimDesktopChannel> simChannel;
    if (desktop) {
      registerHostExtras(host);
      simChannel = std::make_unique<sim::SimDesktopChannel>(*desktop, *messenger);
    }
    NSLog("[host] serving %s on the %s desktop", options.socket.c_str(),
          desktop   ? "simulated"
          : wayland ? "Wayland"
                    : "X11");
    queue.run();
    NSLog("[host] stopping");
    messenger->stop();
    simChannel.reset();
    CaptureHandler::shared().window.reset();
    // A clipboard copy still decoding is left to finish on its own thread,
    // unanswered; the host does not wait for it.
    CaptureHandler::shared().abandonCopies();
  }

  setPlatform(nullptr);
  // The desktop joins its engines' threads, which may still hand a finished
  // capture to the main queue: it goes while the queue is still installed.
  desktop.reset();
  x11.reset();
  wayland.reset();
  gSocketToRemove.clear();
  setMainQueue(nullptr);
  removeLogSink(syslogSink);
  removeLogSink(stderrSink);
  return status;
}
