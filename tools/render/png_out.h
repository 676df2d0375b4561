// A tiny PNG writer (8-bit RGB, no interlace) on zlib, for the render tool.
#pragma once

#include <string>

#include "effects/surface.h"

namespace dbx::render {

// Writes the pixels as an RGB PNG; false when the file cannot be written.
bool WritePng(const std::string& path, SurfaceView pixels);

}  // namespace dbx::render
