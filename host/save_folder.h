// The save folder: chosen once, reachable across launches through bookmark text.
#pragma once

#include <optional>
#include <string>

#include "channels/flutter_result.h"

namespace dravel {

namespace SaveFolder {
// Shows the folder panel; answers {"path", "bookmark"?} or null on cancel.
void pick(std::optional<std::string> initialDirectory, FlutterResult result);
// Opens access to the folder of a bookmark; answers by itself.
void beginAccess(std::optional<std::string> bookmark, FlutterResult result);
// Closes the open folder, if any.
void endAccess();
// The path of the folder whose access is open, if any. At most one is.
std::optional<std::string> accessed();
// Forgets the open folder without closing it, for a fresh start in tests.
void resetForTesting();
}  // namespace SaveFolder

}  // namespace dravel
