#include "host/screen_recording_access.h"

namespace dravel::ScreenRecordingAccess {

// The window list is not part of the platform yet, so nothing can be told.
std::optional<bool> windowNamesVisible() { return std::nullopt; }
bool isPromptVisible() { return false; }
void openSettings() {}

}  // namespace dravel::ScreenRecordingAccess
