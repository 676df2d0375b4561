// Readers of the file's common records, shared by the tag files of this folder (parser.cpp
// defines them). Each reads through a bounds-checked BitReader; a short tag leaves the reader
// failed and the result partial.
#pragma once

#include <cstdint>
#include <string>

#include "swf/format/bit_reader.h"
#include "swf/format/movie.h"

namespace dbx::swf {

TwipsRect ReadRectRecord(BitReader& r);
Matrix ReadMatrixRecord(BitReader& r);
ColorTransform ReadCxformRecord(BitReader& r, bool withAlpha);
Rgba ReadColorRecord(BitReader& r, bool withAlpha);
// A SHAPE without style tables (glyphs): edges whose fill index 1 becomes the shape's one solid
// fill. At most `maxEdges` records are read.
Shape ReadGlyphShape(BitReader& r, std::size_t maxEdges);

// The text tags: fonts, their info and names, static texts and text fields.
void ParseTextTag(BitReader& r, std::uint16_t code, Movie& movie, const ParseLimits& limits);

}  // namespace dbx::swf
