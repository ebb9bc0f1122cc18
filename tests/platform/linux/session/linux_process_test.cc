#include <gtest/gtest.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <csignal>
#include <filesystem>
#include <fstream>
#include <memory>
#include <string>
#include <vector>

#include "platform/linux/session/linux_process_control.h"
#include "platform/linux/session/linux_running_applications.h"

namespace dravel::linux_platform {
namespace {

// A child process, killed and reaped when the object goes, whatever the
// test did to it: a forked copy of this test program that waits for
// signals.
class Child {
 public:
  explicit Child(bool ignoreTerminate = false) {
    int ready[2];
    if (::pipe(ready) != 0) return;
    pid_ = ::fork();
    if (pid_ == 0) {
      if (ignoreTerminate) ::signal(SIGTERM, SIG_IGN);
      char c = 'r';
      (void)!::write(ready[1], &c, 1);
      for (;;) ::pause();
    }
    ::close(ready[1]);
    char c;
    // The child is set up once it writes.
    if (pid_ > 0) (void)!::read(ready[0], &c, 1);
    ::close(ready[0]);
  }
  ~Child() {
    if (pid_ > 0 && !reaped_) {
      ::kill(pid_, SIGKILL);
      ::waitpid(pid_, nullptr, 0);
    }
  }
  Child(const Child&) = delete;
  Child& operator=(const Child&) = delete;

  int pid() const { return pid_; }
  // Waits for the child's end and returns its wait status.
  int reap() {
    int status = 0;
    ::waitpid(pid_, &status, 0);
    reaped_ = true;
    return status;
  }

 private:
  int pid_ = -1;
  bool reaped_ = false;
};

TEST(LinuxProcessControl, AStoppedChildIsTracedOrStoppedUntilContinued) {
  Child child;
  ASSERT_GT(child.pid(), 0);
  LinuxProcessControl control;
  ASSERT_EQ(::kill(child.pid(), SIGSTOP), 0);
  int status = 0;
  ASSERT_EQ(::waitpid(child.pid(), &status, WUNTRACED), child.pid());
  ASSERT_TRUE(WIFSTOPPED(status));
  EXPECT_TRUE(control.isTracedOrStopped(child.pid()));
  EXPECT_TRUE(control.isAlive(child.pid()));

  ASSERT_EQ(::kill(child.pid(), SIGCONT), 0);
  ASSERT_EQ(::waitpid(child.pid(), &status, WCONTINUED), child.pid());
  EXPECT_FALSE(control.isTracedOrStopped(child.pid()));
}

// The status text as /proc/PID/status gives it (the stopped child above reads
// the real one): a tracer's pid marks a traced process in any state.
TEST(LinuxProcessControl, StatusTextFields) {
  EXPECT_TRUE(statusShowsTracedOrStopped("State:\tt (tracing stop)\nTracerPid:\t812\n"));
  EXPECT_TRUE(statusShowsTracedOrStopped("State:\tR (running)\nTracerPid:\t812\n"));
}

std::vector<int> pidsOf(const std::vector<RunningApplication>& apps) {
  std::vector<int> out;
  for (const auto& app : apps) out.push_back(app.processIdentifier);
  return out;
}

TEST(LinuxRunningApplications, SignalsGoThroughTheHandleHeldSinceTheListing) {
  auto handles = std::make_shared<ProcessHandles>();
  LinuxRunningApplications apps("app.dravel.Dravel", "/proc", "", handles);
  LinuxProcessControl control(handles);
  Child child(/*ignoreTerminate=*/true);
  ASSERT_GT(child.pid(), 0);
  const std::vector<int> listed = pidsOf(apps.runningApplications());
  ASSERT_NE(std::find(listed.begin(), listed.end(), child.pid()), listed.end());
  EXPECT_TRUE(handles->holds(child.pid()));
  EXPECT_FALSE(handles->holds(::getpid())) << "no handle on this process itself";

  EXPECT_TRUE(apps.terminate(child.pid()));
  EXPECT_TRUE(control.isAlive(child.pid()));
  control.forceEnd(child.pid());
  const int status = child.reap();
  ASSERT_TRUE(WIFSIGNALED(status));
  EXPECT_EQ(WTERMSIG(status), SIGKILL);
  // Gone: the handle says so (whoever has the id by now) and is let go.
  EXPECT_FALSE(control.isAlive(child.pid()));
  EXPECT_FALSE(handles->holds(child.pid()));
  EXPECT_FALSE(apps.terminate(child.pid()));
}

TEST(LinuxRunningApplications, PerSessionOnlyCopiesOnTheSameDisplayCount) {
  // A process tree of its own: every "exe" links to one file.
  const std::filesystem::path root =
      std::filesystem::path(::testing::TempDir()) / ("proc-" + std::to_string(::getpid()));
  std::filesystem::remove_all(root);
  const std::filesystem::path program = root / "program";
  std::filesystem::create_directories(root);
  { std::ofstream(program) << "x"; }
  auto process = [&](const std::string& pid, const std::string& environment) {
    std::filesystem::create_directories(root / pid);
    std::filesystem::create_symlink(program, root / pid / "exe");
    std::ofstream(root / pid / "environ", std::ios::binary) << environment;
  };
  using namespace std::string_literals;
  process("self", "HOME=/root\0DISPLAY=:1\0"s);
  process("10", "DISPLAY=:1.0\0"s);                  // the same display, another screen number
  process("12", "DISPLAY=:2\0"s);                    // another session
  process("14", "XDISPLAY=:1\0"s);                   // a name that only ends the same
  std::filesystem::create_directories(root / "15");  // unreadable: no environ
  std::filesystem::create_symlink(program, root / "15" / "exe");

  LinuxRunningApplications perSession("app.dravel.Dravel", root.string(), "DISPLAY");
  EXPECT_EQ(pidsOf(perSession.runningApplications()), (std::vector<int>{10}));
  LinuxRunningApplications everywhere("app.dravel.Dravel", root.string());
  EXPECT_EQ(pidsOf(everywhere.runningApplications()), (std::vector<int>{10, 12, 14, 15}));
  std::filesystem::remove_all(root);

  // A Wayland compositor is its socket, not its name.
  EXPECT_EQ(waylandSocketOf("WAYLAND_DISPLAY=wayland-1\0XDG_RUNTIME_DIR=/run/user/5\0"s),
            "/run/user/5/wayland-1");
  EXPECT_EQ(waylandSocketOf("XDG_RUNTIME_DIR=/run/user/5\0"s), "");
}

}  // namespace
}  // namespace dravel::linux_platform
