// What the benchmarks read of a host process they started: its memory.
#pragma once

#include <sys/types.h>

#include <cstdlib>
#include <cstring>
#include <fstream>
#include <string>

namespace dravel {

// A field of /proc/PID/status, in kilobytes; -1 when it cannot be read.
inline long statusKb(pid_t pid, const char* field) {
  std::ifstream in("/proc/" + std::to_string(pid) + "/status");
  std::string line;
  const size_t n = std::strlen(field);
  while (std::getline(in, line)) {
    if (line.compare(0, n, field) == 0 && line.size() > n && line[n] == ':') {
      return std::atol(line.c_str() + n + 1);
    }
  }
  return -1;
}

// Resets the process's peak resident size (VmHWM) to its current size.
inline bool resetPeak(pid_t pid) {
  std::ofstream out("/proc/" + std::to_string(pid) + "/clear_refs");
  out << "5";
  return static_cast<bool>(out);
}

}  // namespace dravel
