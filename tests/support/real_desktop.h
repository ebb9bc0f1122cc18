// The real Linux desktop behind the seam, made for a test in its own process
// (its header brings in Xlib, whose macros must stay out of test files).
#pragma once

#include <memory>
#include <string>

#include "channels/binary_messenger.h"
#include "platform/seam/platform.h"

namespace dravel::testing {

// X11Desktop::create on the test desktop; null (with `why`) when it fails.
std::unique_ptr<Platform> makeRealDesktop(std::shared_ptr<FlutterBinaryMessenger> messenger,
                                          std::string* why);

}  // namespace dravel::testing
