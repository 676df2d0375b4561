// Bounds and hit tests of display content (twips).
#pragma once

#include "swf/display/clip.h"
#include "swf/format/movie.h"

namespace dbx::swf {

// The bounds of a shape's edges, strokes included.
Box ShapeBounds(const Shape& shape);
// Whether a point in the shape's space lies in one of its fills.
bool ShapeContains(const Shape& shape, double x, double y);
// The bounds of a clip's content (own graphics and visible and invisible children alike) in its
// own space.
Box LocalBounds(const Clip& clip);
// Whether a stage point lies in a filled part of the clip's content.
bool HitsContent(const Clip& clip, double x, double y);
// The same for a character drawn with `toStage` (buttons' hit areas).
bool CharacterContains(const Movie& movie, std::uint16_t id, const Matrix& toStage, double x,
                       double y, int nesting = 0);

}  // namespace dbx::swf
