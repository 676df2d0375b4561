// What the content maker reads from outside: wave headers, texts to convert to the ANSI code page,
// colours, and the xscreensaver settings it edits. Never crashes; the converted text is never
// longer than its UTF-8 form; an added entry is always found again.
#include <cstdint>
#include <cstdlib>
#include <string>

#include "pack/pack.h"
#include "pack/wave_check.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  (void)dbx::IsPcmWave(data, size);
  const std::string_view text(reinterpret_cast<const char*>(data), size);
  if (auto ansi = dbx::Utf8ToAnsi(text); ansi && ansi->size() > text.size()) std::abort();
  (void)dbx::ParseColour(text.substr(0, 16));
  const std::string rc = dbx::AddXscreensaverEntry(text, text, "Saver", "'/x/Saver.scr' -root");
  if (rc.find("'/x/Saver.scr' -root") == std::string::npos) std::abort();
  (void)dbx::NaturalLess(text.substr(0, size / 2), text.substr(size / 2));
  return 0;
}
