// Reads a PNG picture (8-bit RGB or RGBA, not interlaced; alpha dropped) into a surface: the
// reference pictures that the movie tool and the tests compare frames with.
#pragma once

#include <optional>
#include <string>

#include "core/surface.h"

namespace dbx {

// Nothing when the file cannot be read or is not such a picture.
std::optional<Surface> ReadPng(const std::string& path);

}  // namespace dbx
