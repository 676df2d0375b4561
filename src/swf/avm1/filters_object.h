// flash.filters for scripts: BitmapFilter and its nine kinds, with the player's clamping of every
// property, clone, and the conversions between the objects scripts hold and the filters the
// renderer draws (a clip's `filters`, BitmapData.applyFilter).
#pragma once

#include <vector>

#include "swf/avm1/object.h"
#include "swf/format/movie.h"

namespace dbx::swf::avm1 {

class Vm;

// Installs flash.filters.* (the package object is made when missing).
void InstallFilters(Vm& vm);

// A new array of new filter objects for `filters` (a clip's list as scripts read it: copies).
Object* FiltersToScript(Vm& vm, const std::vector<Filter>& filters);

// The drawable filters of an array of filter objects; anything else in it is left out, and a
// value that is not an object gives no filters.
std::vector<Filter> FiltersFromScript(Vm& vm, const Value& list);

// The drawable filter a filter object stands for; false for anything else (values that are not
// filter objects, the base class, the displacement map).
bool FilterFromScript(const Value& v, Filter& out);

}  // namespace dbx::swf::avm1
