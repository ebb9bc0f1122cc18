// Diagonal resize cursors for the interface, which the embedding lacks: two
// drawn double-headed arrows, placed in front of the embedding's lookup from
// cursor kind name to cursor.
#pragma once

#include <memory>
#include <string>

#include "platform/seam/object_runtime.h"
#include "platform/shared/drawing.h"

namespace dravel::MouseCursors {

// Wraps the embedding's cursor lookup so that the six diagonal kinds get the
// drawn cursors and every other kind goes on to the embedding. Called once,
// at start-up.
void install();

// The cursor for a diagonal kind, or null for any other kind.
std::shared_ptr<Cursor> diagonal(const std::string& kind);

// Upper left to lower right, and upper right to lower left; made on first use.
const std::shared_ptr<Cursor>& northWestSouthEast();
const std::shared_ptr<Cursor>& northEastSouthWest();

// A 24 x 24 point cursor with its hot spot in the middle: the arrow outline
// turned by `angle` degrees (counter-clockwise), white rim, black body.
std::shared_ptr<Cursor> makeCursor(double angle);

// The horizontal double-headed arrow, 18 points long, centred on the origin.
BezierPath arrowPath();

}  // namespace dravel::MouseCursors
