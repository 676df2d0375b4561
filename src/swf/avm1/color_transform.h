// flash.geom.ColorTransform (see color_transform.cpp).
#pragma once

#include "swf/avm1/vm.h"

namespace dbx::swf::avm1 {

// Installs flash.geom.ColorTransform into `geom`.
void InstallColorTransform(Vm& vm, Object* geom);

}  // namespace dbx::swf::avm1
