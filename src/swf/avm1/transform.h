// flash.geom.Transform over a clip (see transform.cpp).
#pragma once

#include "swf/avm1/vm.h"
#include "swf/display/clip.h"

namespace dbx::swf::avm1 {

// Installs flash.geom.Transform (after Matrix, ColorTransform and Rectangle exist).
void InstallTransform(Vm& vm);
// A new Transform of the clip whose script object is `clip` (MovieClip.transform).
Value NewTransform(Vm& vm, Object* clip);
// MovieClip.transform = t: the clip takes the matrix and colour transform of t's clip; anything
// but a Transform changes nothing.
void AssignTransform(Vm& vm, Clip& to, const Value& from);

}  // namespace dbx::swf::avm1
