// The installed fonts of a Windows system through GDI: glyph outlines from GetGlyphOutlineW at a
// large em size, metrics from GetTextMetricsW, the family list from EnumFontFamiliesExW.
// "_sans", "_serif" and "_typewriter" are Arial, Times New Roman and Courier New; a family that is
// not installed is drawn in Arial.
#pragma once

#include <memory>

#include "core/platform.h"

namespace dbx::win32 {

std::unique_ptr<FontSource> CreateGdiFonts();

}  // namespace dbx::win32
