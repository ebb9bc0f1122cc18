// The host run as the Flatpak application app.dravel.Dravel against the real
// desktop portals, in the session tests/tools/sandbox-session starts (which
// runs the test binary, once for all its tests).
#pragma once

#include <string>
#include <vector>

#include "tests/support/host_process.h"

namespace dravel::testing {

// The session's folder; empty (after a failure) outside a session.
std::string sandboxSession();

// Every call the desktop's stand-ins recorded, one JSON line each.
std::vector<std::string> standInCalls();
// Waits until a recorded call holds `part`; the line, or empty after 10 s.
std::string standInCall(const std::string& part);

// A test of the host inside the sandbox, on the session's X display. The
// test's folder is shared with the sandbox at its own path, the host's
// build tree read-only.
class SandboxedHostTest : public HostProcessTest {
 protected:
  void SetUp() override;
  // The command line that runs `argv` in the sandbox.
  std::vector<std::string> sandboxed(const std::vector<std::string>& argv) const;
  // Restarts the portal services on the same home folder; true when they
  // came back.
  bool restartPortals();
  std::string home() const { return sandboxSession() + "/home"; }
};

}  // namespace dravel::testing
