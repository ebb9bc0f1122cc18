// The screen-recording permission as the window list and the system show it.
#pragma once

#include <optional>

namespace dravel {

namespace ScreenRecordingAccess {
// The bundle identifier of the agent that shows the system's permission prompt.
inline constexpr const char* kPromptAgentBundleIdentifier =
    "com.apple.accessibility.universalAccessAuthWarn";
// The screen-recording pane of the system settings: the current address
// first, then the one of older systems.
inline constexpr const char* kFirstSettingsAddress =
    "x-apple.systempreferences:com.apple.settings.PrivacySecurity.extension?Privacy_ScreenCapture";
inline constexpr const char* kSecondSettingsAddress =
    "x-apple.systempreferences:com.apple.preference.security?Privacy_ScreenCapture";

// Whether other applications' window names are readable: true, false, or
// absent when the window list cannot tell.
std::optional<bool> windowNamesVisible();
// Whether the system's permission prompt is on screen.
bool isPromptVisible();
// Opens the screen-recording pane of the system settings.
void openSettings();
}  // namespace ScreenRecordingAccess

}  // namespace dravel
