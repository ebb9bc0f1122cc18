#include "host/save_folder.h"

namespace dravel::SaveFolder {

// Folder panels and bookmarks are not part of the platform yet.
void pick(std::optional<std::string>, FlutterResult result) { result(Value()); }
void beginAccess(std::optional<std::string>, FlutterResult result) {
  result(FlutterError::errorWithCode("unresolved", "bookmarks are not available"));
}
void endAccess() {}

}  // namespace dravel::SaveFolder
