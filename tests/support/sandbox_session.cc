#include "tests/support/sandbox_session.h"

#include <cstdlib>
#include <sstream>

namespace dravel::testing {
namespace {
const std::string kSessionScript = DRAVEL_SOURCE_DIR "/tests/tools/sandbox-session";
}  // namespace

std::string sandboxSession() {
  const char* session = std::getenv("DRAVEL_SANDBOX_SESSION");
  if (!session || !*session) {
    ADD_FAILURE() << "not in a sandbox session: run under tests/tools/sandbox-session run";
    return {};
  }
  return session;
}

std::vector<std::string> standInCalls() {
  std::vector<std::string> calls;
  std::istringstream in(readFile(sandboxSession() + "/stand-ins.log"));
  for (std::string line; std::getline(in, line);) calls.push_back(line);
  return calls;
}

std::string standInCall(const std::string& part) {
  std::string found;
  waitUntil(
      [&] {
        for (const std::string& line : standInCalls())
          if (line.find(part) != std::string::npos) found = line;
        return !found.empty();
      },
      10);
  return found;
}

void SandboxedHostTest::SetUp() {
  HostProcessTest::SetUp();
  if (HasFatalFailure()) return;
  ASSERT_FALSE(sandboxSession().empty());
  platform_ = "x11";
  const std::string build = hostBinary_.substr(0, hostBinary_.rfind("/app/"));
  hostPrefix_ = {kSessionScript, "sandbox", "--ro-bind", build, "--bind", dir_, "--"};
}

std::vector<std::string> SandboxedHostTest::sandboxed(const std::vector<std::string>& argv) const {
  std::vector<std::string> all = hostPrefix_;
  all.insert(all.end(), argv.begin(), argv.end());
  return all;
}

bool SandboxedHostTest::restartPortals() {
  return run({kSessionScript, "restart"}) == 0;
}

}  // namespace dravel::testing
