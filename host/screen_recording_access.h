// The screen-recording permission as the window list and the system show it.
#pragma once

#include <optional>

namespace dravel {

namespace ScreenRecordingAccess {
// Whether other applications' window names are readable: true, false, or
// absent when the window list cannot tell.
std::optional<bool> windowNamesVisible();
// Whether the system's permission prompt is on screen.
bool isPromptVisible();
// Opens the screen-recording pane of the system settings.
void openSettings();
}  // namespace ScreenRecordingAccess

}  // namespace dravel
