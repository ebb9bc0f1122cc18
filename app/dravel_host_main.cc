// dravel-host: the host as a process. It starts the way the application
// starts, serves the interface's channels over a local socket, and runs until
// SIGTERM or SIGINT.
#include <glib-unix.h>
#include <signal.h>

#include <cstdio>
#include <cstring>
#include <memory>
#include <string>

#include "channels/glib_main_queue.h"
#include "channels/log.h"
#include "channels/socket_messenger.h"
#include "host/app_delegate.h"
#include "host/capture_handler.h"
#include "host/launch.h"
#include "host/main_flutter_window.h"
#include "platform/sim/observed_state.h"
#include "platform/sim/scenario.h"
#include "platform/sim/scenario_registry.h"
#include "platform/sim/sim_desktop.h"
#include "platform/sim/sim_desktop_channel.h"

namespace {

using namespace dravel;

const char* const kUsage =
    "usage: dravel-host [--platform sim] [--scenario FILE] [--socket PATH]\n"
    "  --platform sim   the simulated desktop (the only platform, and the default)\n"
    "  --scenario FILE  load a JSON scenario into the simulated desktop first\n"
    "  --socket PATH    serve on PATH instead of the default socket\n";

struct Options {
  std::string platform = "sim";
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
  if (options.platform != "sim") {
    std::fprintf(stderr, "dravel-host: unknown platform %s (only \"sim\" exists)\n",
                 options.platform.c_str());
    return false;
  }
  return true;
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

gboolean onStopSignal(gpointer data) {
  static_cast<GLibMainQueue*>(data)->quit();
  return G_SOURCE_CONTINUE;
}

void watchSignal(int signal, GLibMainQueue& queue) {
  GSource* source = g_unix_signal_source_new(signal);
  g_source_set_callback(source, onStopSignal, &queue, nullptr);
  g_source_attach(source, queue.context());
  g_source_unref(source);
}

}  // namespace

// The simulated desktop draws window titles through fontconfig, whose caches
// live until the process ends; not leaks of the host. Read by LeakSanitizer.
extern "C" const char* __lsan_default_suppressions() {
  return "leak:libfontconfig.so\n";
}

int main(int argc, char** argv) {
  Options options;
  bool helpOnly = false;
  if (!parseOptions(argc, argv, options, helpOnly)) return 2;
  if (helpOnly) {
    std::fputs(kUsage, stdout);
    return 0;
  }
  if (options.socket.empty()) options.socket = defaultSocketPath();
  ::signal(SIGPIPE, SIG_IGN);

  auto stderrSink = std::make_shared<StderrLogSink>();
  auto syslogSink = std::make_shared<SyslogLogSink>("dravel-host");
  addLogSink(stderrSink);
  addLogSink(syslogSink);

  GLibMainQueue queue;
  setMainQueue(&queue);
  auto messenger = std::make_shared<SocketMessenger>(queue.context());
  auto desktop = std::make_unique<sim::SimDesktop>(messenger);
  setPlatform(desktop.get());

  int status = 0;
  if (!options.scenario.empty()) {
    auto scenario = sim::readScenarioFile(options.scenario);
    std::string why = std::holds_alternative<std::string>(scenario)
                          ? std::get<std::string>(scenario)
                          : sim::applyScenario(std::get<Value>(scenario), *desktop);
    if (!why.empty()) {
      std::fprintf(stderr, "dravel-host: scenario %s: %s\n", options.scenario.c_str(), why.c_str());
      status = 1;
    }
  }
  if (status == 0) {
    if (auto why = messenger->listen(options.socket)) {
      std::fprintf(stderr, "dravel-host: %s\n", why->c_str());
      status = 1;
    }
  }
  if (status == 0) {
    LaunchedHost host = launchHost();
    registerHostExtras(host);
    auto simChannel = std::make_unique<sim::SimDesktopChannel>(*desktop, *messenger);
    watchSignal(SIGTERM, queue);
    watchSignal(SIGINT, queue);
    NSLog("[host] serving %s", options.socket.c_str());
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
  setMainQueue(nullptr);
  removeLogSink(syslogSink);
  removeLogSink(stderrSink);
  return status;
}
