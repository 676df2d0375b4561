// The seed-file reader on any bytes: never crashes, answers within the buffer.
#include <cstdint>
#include <cstdlib>
#include <string>

#include "core/ini_file.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::string_view text(reinterpret_cast<const char*>(data), size);
  for (const char* key : {"ImageOrSWF", "SaverSort", "", "="}) {
    const std::string v = dbx::IniProfileString(text, "DM-NOVAPOST", key, "ERROR", 255);
    if (v.size() > 254) std::abort();
  }
  // The first line as a section name and the second as a key.
  const auto nl = text.find('\n');
  if (nl != std::string_view::npos) {
    (void)dbx::FindIniValue(text, text.substr(0, nl), text.substr(nl + 1, 8));
  }
  return 0;
}
