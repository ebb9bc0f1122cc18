// Diagonal resize cursors for the interface.
#pragma once

namespace dravel {

namespace MouseCursors {
// Replaces the embedding's cursor lookup with one that knows the diagonal kinds.
void install();
}  // namespace MouseCursors

}  // namespace dravel
