#include "platform/linux/session/linux_process_control.h"

#include <cerrno>
#include <csignal>
#include <cstdlib>
#include <fstream>
#include <sstream>

namespace dravel::linux_platform {

bool LinuxProcessControl::isAlive(int pid) {
  if (pid <= 0) return true;  // would address a process group; never "gone"
  return handles_->signal(pid, 0) != ESRCH;
}

void LinuxProcessControl::forceEnd(int pid) {
  // A pid of 0 or below would signal a whole process group (or everything).
  if (pid <= 0) return;
  handles_->signal(pid, SIGKILL);
}

bool statusShowsTracedOrStopped(const std::string& statusText) {
  std::istringstream lines(statusText);
  std::string line;
  while (std::getline(lines, line)) {
    if (line.rfind("TracerPid:", 0) == 0) {
      std::istringstream field(line.substr(10));
      long tracer = 0;
      if (field >> tracer && tracer != 0) return true;
    } else if (line.rfind("State:", 0) == 0) {
      std::istringstream field(line.substr(6));
      char state = 0;
      if (field >> state && (state == 'T' || state == 't')) return true;
    }
  }
  return false;
}

bool LinuxProcessControl::isTracedOrStopped(int pid) {
  if (pid <= 0) return false;
  std::ifstream in("/proc/" + std::to_string(pid) + "/status");
  if (!in) return false;
  std::stringstream text;
  text << in.rdbuf();
  return statusShowsTracedOrStopped(text.str());
}

void LinuxProcessControl::exitProcess(int status) {
  std::exit(status);
}

}  // namespace dravel::linux_platform
