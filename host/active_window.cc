#include "host/capture_handler.h"

namespace dravel {

// The window list is not part of the platform yet.
std::optional<ValueMap> CaptureHandler::activeWindow() { return std::nullopt; }

}  // namespace dravel
