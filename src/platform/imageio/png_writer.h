// Writes a surface as a PNG file (8-bit RGB, zlib-compressed): screenshots of headless runs and
// the render tool's frames.
#pragma once

#include <string>

#include "core/surface.h"

namespace dbx {

bool WritePng(const std::string& path, SurfaceView pixels);

}  // namespace dbx
