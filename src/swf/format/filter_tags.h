// Filter lists of PlaceObject3.
#pragma once

#include <vector>

#include "swf/format/bit_reader.h"
#include "swf/format/movie.h"

namespace dbx::swf {

// Reads a FILTERLIST (count, then the filters). An unknown filter kind ends the list and marks
// the reader failed, since the rest of the record cannot be located.
std::vector<Filter> ReadFilterList(BitReader& r);

}  // namespace dbx::swf
