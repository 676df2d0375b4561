// Reads a PNG picture (not interlaced; 8-bit grey, grey and alpha, RGB or RGBA, or a palette of
// 1, 2, 4 or 8 bits per pixel; alpha dropped) into a surface: the reference pictures that the
// movie tool and the tests compare frames with.
#pragma once

#include <optional>
#include <string>

#include "core/surface.h"

namespace dbx {

// Nothing when the file cannot be read or is not such a picture.
std::optional<Surface> ReadPng(const std::string& path);

}  // namespace dbx
