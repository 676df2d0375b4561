// The settings file format on any bytes: a document that parses serialises to text that parses
// again to the same document.
#include <cstdint>
#include <cstdlib>
#include <string>

#include "core/registry_document.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::string_view text(reinterpret_cast<const char*>(data), size);
  const auto doc = dbx::RegistryDocument::Parse(text);
  if (!doc) return 0;
  const std::string once = doc->Serialize();
  const auto again = dbx::RegistryDocument::Parse(once);
  if (!again || again->Serialize() != once) std::abort();
  return 0;
}
