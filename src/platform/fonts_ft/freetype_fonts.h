// The installed fonts of a Linux system: fontconfig picks the face for a family and style (the
// generic names "_sans", "_serif" and "_typewriter" as sans-serif, serif and monospace; a family
// that is not installed gets fontconfig's sans-serif face), FreeType reads its glyph outlines.
#pragma once

#include <memory>

#include "core/platform.h"

namespace dbx {

// Nothing when FreeType or fontconfig cannot start.
std::unique_ptr<FontSource> CreateFreeTypeFonts();

}  // namespace dbx
