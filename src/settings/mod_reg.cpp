#include "settings/mod_reg.h"

namespace dbx {

std::string ReadRegValue(SettingsStore& store, std::string_view subkey, std::string_view name) {
  auto value = store.ReadText(subkey, name);
  if (!value) return {};
  // A stored text ends at its first zero character.
  if (const auto nul = value->find('\0'); nul != std::string::npos) value->resize(nul);
  return std::move(*value);
}

void WriteRegValue(SettingsStore& store, std::string_view subkey, std::string_view name,
                   std::string_view text) {
  store.WriteText(subkey, name, text);
}

void WriteRegValues(SettingsStore& store, const std::vector<SettingWrite>& writes) {
  store.WriteTexts(writes);
}

std::string SaverKey(std::string_view saverName) {
  return "Software\\" + std::string(saverName);
}
std::string VendorKey(std::string_view saverName) {
  return "Software\\DEvOrevi\\" + std::string(saverName);
}
std::string SettingsKey(std::string_view saverName) {
  return VendorKey(saverName) + "\\Option";
}
std::string FileKey(std::string_view saverName) {
  return VendorKey(saverName) + "\\File";
}

}  // namespace dbx
