// The CSS reader of text fields' style sheets, on any text.
#include <cstdint>
#include <string_view>

#include "swf/text/css.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  (void)dbx::swf::text::ParseCss(std::string_view(reinterpret_cast<const char*>(data), size));
  return 0;
}
