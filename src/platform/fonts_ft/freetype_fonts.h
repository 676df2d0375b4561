// The installed fonts of a Linux system: fontconfig picks the face for a family and style (the
// generic names "_sans", "_serif" and "_typewriter" as sans-serif, serif and monospace; a family
// that is not installed gets fontconfig's sans-serif face), FreeType reads its glyph outlines.
#pragma once

#include <memory>
#include <string>
#include <utility>
#include <vector>

#include "core/platform.h"

namespace dbx {

// Faces read from font files under family names of their own, found before the installed ones,
// and the families the generic names stand for (empty: the system's sans-serif, serif and
// monospace faces).
struct FontFiles {
  std::vector<std::pair<std::string, std::string>> faces;  // family, file
  std::string sans, serif, typewriter;
};

// Nothing when FreeType or fontconfig cannot start. A file that cannot be read leaves its family
// to the installed faces.
std::unique_ptr<FontSource> CreateFreeTypeFonts(const FontFiles& files = {});

}  // namespace dbx
