#include "host/mouse_cursors.h"

namespace dravel::MouseCursors {

// The embedding's cursor lookup is not part of the platform yet.
void install() {}

}  // namespace dravel::MouseCursors
