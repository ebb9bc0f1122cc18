// Whether the process runs in the application sandbox.
#pragma once

namespace dravel {

namespace Sandbox {
// True when the environment holds "APP_SANDBOX_CONTAINER_ID" (even with an
// empty value). Read once per process, on first use, from any thread.
bool active();
// Forgets the value read, so that a test can read it again.
void resetForTesting();
}  // namespace Sandbox

}  // namespace dravel
