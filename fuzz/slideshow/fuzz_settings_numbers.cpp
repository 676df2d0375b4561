// The readers of numbers in settings texts on any bytes: whole numbers (colours, angles, effect
// numbers), the leading number of an interval, and the lists split from texts.
#include <cmath>
#include <cstdint>
#include <cstdlib>
#include <string_view>

#include "effects/numeric.h"
#include "slideshow/slideshow_values.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::string_view text(reinterpret_cast<const char*>(data), size);
  (void)dbx::ParseWholeNumber(text);
  if (const auto small = dbx::ParseSmallInteger(text)) {
    if (*small < -32768 || *small > 32767) std::abort();
  }
  if (!std::isfinite(dbx::LeadingNumber(text))) std::abort();
  if (const auto ms = dbx::IntervalMs(text)) {
    if (*ms <= 0 || *ms > 2147483647) std::abort();
  }
  std::size_t pieces = 0;
  for (const auto& piece : dbx::SplitKeepEmpty(text, '*')) pieces += piece.size() + 1;
  if (size > 0 && pieces != size + 1) std::abort();  // the pieces and separators make the text
  return 0;
}
