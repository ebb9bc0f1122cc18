// A screenshot as whole processes, on the X11 test desktop (2880 x 1800, made
// one monitor) covered by the mixed-content picture: `dravelctl screenshot` (to a running
// dravel-host) against scrot, ImageMagick's import, maim and xwd, pair by
// pair, each pair run in turn within one iteration so that both see the same
// machine. The time reported is dravelctl's; the counters hold the other
// tool's, the ratio of the two and the files' sizes.
#include <benchmark/benchmark.h>
#include <signal.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <memory>
#include <string>
#include <vector>

#include "bench/bench_process.h"

namespace dravel {
namespace {

double secondsOf(const std::vector<std::string>& argv) {
  const auto start = std::chrono::steady_clock::now();
  const pid_t pid = fork();
  if (pid == 0) {
    std::vector<char*> args;
    for (const std::string& a : argv) args.push_back(const_cast<char*>(a.c_str()));
    args.push_back(nullptr);
    if (!std::freopen("/dev/null", "w", stdout) || !std::freopen("/dev/null", "w", stderr))
      _exit(126);
    execvp(args[0], args.data());
    _exit(127);
  }
  int status = 0;
  if (pid < 0 || waitpid(pid, &status, 0) != pid || !WIFEXITED(status) || WEXITSTATUS(status) != 0)
    return -1;
  return std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
}

long long fileSize(const std::string& path) {
  struct stat info {};
  return stat(path.c_str(), &info) == 0 ? static_cast<long long>(info.st_size) : -1;
}

// The picture on the screen and a host serving it, for the whole run.
struct Stage {
  pid_t picture = -1;
  std::unique_ptr<HostProcess> host;
  std::string error;
  std::string dravelctl;
  ~Stage() {
    if (picture > 0) {
      kill(picture, SIGTERM);
      waitpid(picture, nullptr, 0);
    }
  }
};

Stage& stage() {
  static const std::unique_ptr<Stage> s = [] {
    auto owned = std::make_unique<Stage>();
    Stage& made = *owned;
    int ready[2];
    if (pipe(ready) != 0) {
      made.error = "no pipe";
      return owned;
    }
    made.picture = fork();
    if (made.picture == 0) {
      dup2(ready[1], STDOUT_FILENO);
      execl(DRAVEL_MIXED_SCREEN_DEFAULT, DRAVEL_MIXED_SCREEN_DEFAULT, static_cast<char*>(nullptr));
      _exit(127);
    }
    close(ready[1]);
    char line[16] = {};
    FILE* in = fdopen(ready[0], "r");
    if (!in || !std::fgets(line, sizeof line, in) || std::string(line) != "ready\n") {
      made.error = "the mixed-content picture did not show (is DISPLAY a test desktop?)";
    }
    if (in) std::fclose(in);
    // One monitor over the whole root, so that the host's screen is the
    // whole picture, as the other tools capture it.
    for (const char* name : {"LEFT", "RIGHT"}) secondsOf({"xrandr", "--delmonitor", name});
    if (secondsOf({"xrandr", "--setmonitor", "WHOLE", "2880/762x1800/476+0+0", "screen"}) < 0)
      made.error = "no monitor over the whole root could be made";
    made.host = startHostProcess("x11", DRAVEL_HOST_BINARY_DEFAULT);
    if (made.error.empty()) made.error = made.host->startError;
    const char* binary = std::getenv("DRAVEL_HOST_BINARY");
    const std::string host = binary ? binary : DRAVEL_HOST_BINARY_DEFAULT;
    made.dravelctl = host.substr(0, host.rfind('/') + 1) + "dravelctl";
    return owned;
  }();
  return *s;
}

struct Tool {
  const char* name;
  const char* package;
  std::vector<std::string> (*command)(const std::string& file);
};

const Tool kTools[] = {
    {"scrot", "scrot",
     [](const std::string& f) -> std::vector<std::string> {
       return {"scrot", "-o", f + ".png"};
     }},
    {"import", "imagemagick",
     [](const std::string& f) -> std::vector<std::string> {
       return {"import", "-window", "root", f + ".png"};
     }},
    {"maim", "maim",
     [](const std::string& f) -> std::vector<std::string> {
       return {"maim", f + ".png"};
     }},
    {"xwd", "x11-apps",
     [](const std::string& f) -> std::vector<std::string> {
       return {"xwd", "-root", "-silent", "-out", f + ".xwd"};
     }},
};

// Arguments: the other tool (an index into kTools), dravelctl's setting.
void BM_ScreenshotAgainst(benchmark::State& state) {
  Stage& s = stage();
  if (!s.error.empty()) {
    state.SkipWithError(s.error.c_str());
    return;
  }
  const Tool& tool = kTools[state.range(0)];
  static const char* const kSettings[] = {"fast", "default", "small"};
  const std::string ours = s.host->dir + "/ours.png";
  const std::string theirs = s.host->dir + "/theirs";
  const std::vector<std::string> dravelctl = {s.dravelctl,
                                              "--socket",
                                              s.host->socket,
                                              "screenshot",
                                              "--compression",
                                              kSettings[state.range(1)],
                                              "-o",
                                              ours};
  if (secondsOf(tool.command(theirs)) < 0) {
    const std::string why = std::string(tool.name) + " did not run (install the package " +
                            tool.package + ": DRAVEL_WITH_BENCH=1 scripts/install-deps)";
    state.SkipWithError(why.c_str());
    return;
  }
  double oursTotal = 0, theirsTotal = 0;
  for (auto _ : state) {
    const double a = secondsOf(dravelctl);
    const double b = secondsOf(tool.command(theirs));
    if (a < 0 || b < 0) {
      state.SkipWithError(a < 0 ? "dravelctl screenshot failed" : "the other tool failed");
      return;
    }
    state.SetIterationTime(a);
    oursTotal += a;
    theirsTotal += b;
  }
  const double n = static_cast<double>(state.iterations());
  state.counters["other_ms"] = theirsTotal / n * 1e3;
  state.counters["other_over_ours"] = theirsTotal / oursTotal;
  const long long ourSize = fileSize(ours);
  const long long theirSize =
      fileSize(theirs + (std::string(tool.name) == "xwd" ? ".xwd" : ".png"));
  state.counters["file_bytes"] = static_cast<double>(ourSize);
  state.counters["other_file_bytes"] = static_cast<double>(theirSize);
  state.counters["size_vs_other"] = static_cast<double>(ourSize) / static_cast<double>(theirSize);
  state.SetLabel(std::string("against ") + tool.name);
}
BENCHMARK(BM_ScreenshotAgainst)
    ->Name("Screenshot/Against")
    ->ArgNames({"tool", "setting"})
    ->Args({0, 0})
    ->Args({0, 1})
    ->Args({1, 0})
    ->Args({2, 0})
    ->Args({3, 0})
    ->Iterations(7)
    ->Unit(benchmark::kMillisecond)
    ->UseManualTime();

}  // namespace
}  // namespace dravel
