// First-run seeding: the content's options are copied once from the seed file into the store.
#pragma once

#include <string>
#include <string_view>
#include <vector>

#include "core/platform.h"

namespace dbx {

// Which window seeds decides which settings exist: the first list that completes sets "Loaded" to
// "True" and every later list copies nothing.
enum class KeyList { kEntry, kFlashScreen, kDialogMovie, kDialogPicture, kSlideshow };

// One key of the seed file, section [DM-NOVAPOST] of SystemDir/Zirezarev.ini: "ERROR" for a missing
// file or key, at most 254 characters.
std::string ReadIniValue(Platform& platform, std::string_view section, std::string_view key);

// One write of a key list.
struct SeedWrite {
  enum class Target { kSaverKey, kVendorKey, kFileKey, kSettingsKey };
  Target target;
  std::string name;     // value name; empty for the key's default value
  std::string iniKey;   // the seed file's key, empty when `literal` is written
  std::string literal;  // written as is when iniKey is empty
};

// The writes of a list, in order. The slideshow's background keys depend on the seed file's
// "SaverBgSelect", which is read through `platform`.
std::vector<SeedWrite> KeyListWrites(Platform& platform, KeyList list);

// Runs the seeding with one key list (see KeyList).
void SeedSettings(Platform& platform, const std::string& saverName, KeyList list);

}  // namespace dbx
