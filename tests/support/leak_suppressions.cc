#include "platform/linux/session/toolkit_leak_suppressions.h"

// Tests run the text renderer (fontconfig) and, on the test desktop, GTK
// dialogs and widgets, whose libraries keep caches for the life of the
// process. Read by LeakSanitizer at start-up.
extern "C" const char* __lsan_default_suppressions() {
  return dravel::linux_platform::kToolkitLeakSuppressions;
}
