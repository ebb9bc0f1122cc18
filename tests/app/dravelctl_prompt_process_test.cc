// dravelctl screenshot against a host whose desktop prompts for the
// screen-recording permission: it waits past its own timeout for the answer.
#include <gtest/gtest.h>

#include "tests/support/host_process.h"

namespace dravel::testing {
namespace {

class DravelctlPrompt : public HostProcessTest {};

TEST_F(DravelctlPrompt, AScreenshotWaitsForTheAnswerAndSaysWhy) {
  ASSERT_FALSE(ctlBinary_.empty()) << "no dravelctl beside the host";
  const char* const line = "dravelctl: the desktop is asking for permission";
  struct Case {
    const char* permissions;
    const char* portalTimeoutMs;  // dravelctl's DRAVEL_PORTAL_TIMEOUT_MS
    int status;
    const char* says;
    bool prompted;
  };
  const Case cases[] = {
      {R"({"screenRecording": false, "promptSeconds": 1.5})", "20000", 1,
       "error capture_failed: the screen-recording permission was refused", true},
      {R"({"screenRecording": false, "grantOnRequest": true, "promptSeconds": 1.5})", "20000", 0,
       "", true},
      // A prompt outlasting the host's wait: the client gives up after it.
      {R"({"screenRecording": false, "promptSeconds": 600})", "100", 3,
       "dravelctl: timed out waiting for the reply", true},
      {R"({"screenRecording": false})", "20000", 0, "", false},
  };
  start();
  for (const Case& c : cases) {
    SCOPED_TRACE(c.permissions);
    ASSERT_EQ(ctl({"call", "sim/desktop", "load",
                   std::string(R"({"permissions": )") + c.permissions + "}"}),
              0);
    EXPECT_EQ(run({ctlBinary_, "--socket", socket_, "--timeout", "0.6", "screenshot", "-o",
                   dir_ + "/shot.png"},
                  {std::string("DRAVEL_PORTAL_TIMEOUT_MS=") + c.portalTimeoutMs}),
              c.status)
        << err_;
    const size_t first = err_.find(line);
    EXPECT_EQ(first != std::string::npos, c.prompted) << err_;
    if (c.prompted) {
      EXPECT_EQ(err_.find(line, first + 1), std::string::npos) << "said twice";
    }
    EXPECT_NE(err_.find(c.says), std::string::npos) << err_;
  }
}

}  // namespace
}  // namespace dravel::testing
