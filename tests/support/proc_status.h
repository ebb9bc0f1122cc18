// Memory figures of a process, read from /proc: how the tests measure what
// the host holds, in their own process or in a child.
#pragma once

#include <sys/types.h>

#include <string>

namespace dravel::testing {

// A field of /proc/PID/status in kB ("VmRSS", "VmHWM"); pid 0 is this
// process. -1 when the field or the process is absent.
long procStatusKb(const std::string& field, pid_t pid = 0);

}  // namespace dravel::testing
