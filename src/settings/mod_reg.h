// The settings: text values in the per-user store, under keys named after the saver.
#pragma once

#include <string>
#include <string_view>
#include <vector>

#include "core/platform.h"

namespace dbx {

// The value as text; the empty text for anything absent or not text.
std::string ReadRegValue(SettingsStore& store, std::string_view subkey, std::string_view name);
// Creates the key (and its parents) and writes one text value. An empty name writes the key's
// default value. Failures are silent.
void WriteRegValue(SettingsStore& store, std::string_view subkey, std::string_view name,
                   std::string_view text);
// Several values in order, as one change where the store allows it (all or none).
void WriteRegValues(SettingsStore& store, const std::vector<SettingWrite>& writes);

// Software\DEvOrevi\<saver>\Option: every setting lives here.
std::string SettingsKey(std::string_view saverName);
// Software\DEvOrevi\<saver>\File: the movie lists' "SaverPath".
std::string FileKey(std::string_view saverName);
// Software\DEvOrevi\<saver>
std::string VendorKey(std::string_view saverName);
// Software\<saver>
std::string SaverKey(std::string_view saverName);

// One saver's settings, read afresh on every call (another process may have seeded meanwhile).
class Settings {
 public:
  Settings(SettingsStore& store, std::string_view saverName)
      : store_(store), key_(SettingsKey(saverName)) {}
  std::string Get(std::string_view name) const { return ReadRegValue(store_, key_, name); }

 private:
  SettingsStore& store_;
  std::string key_;
};

}  // namespace dbx
