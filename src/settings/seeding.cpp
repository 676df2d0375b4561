#include "settings/seeding.h"

#include "settings/mod_reg.h"
#include "settings/paths.h"

namespace dbx {
namespace {

using T = SeedWrite::Target;

SeedWrite Empty(T target) {
  return {target, "", "", ""};
}
SeedWrite Copy(std::string name, std::string iniKey = "") {
  if (iniKey.empty()) iniKey = name;
  return {T::kSettingsKey, std::move(name), std::move(iniKey), ""};
}
SeedWrite LoadedTrue() {
  return {T::kSettingsKey, "Loaded", "", "True"};
}

void AddDialogTexts(std::vector<SeedWrite>& w) {
  for (const char* name : {"SaverDec", "SaverVer", "SaverCopy", "SaverLogo", "SaverURL"}) {
    w.push_back(Copy(name));
  }
}

void AddInputRules(std::vector<SeedWrite>& w) {
  for (const char* name : {"LeftMouse", "RightMouse", "MoveMouse", "Keydown"}) {
    w.push_back(Copy(name));
  }
  w.push_back(Copy("ShowCursor", "HideMouse"));
}

std::string_view Trim(std::string_view s) {
  const auto first = s.find_first_not_of(' ');
  if (first == std::string_view::npos) return {};
  return s.substr(first, s.find_last_not_of(' ') - first + 1);
}

}  // namespace

std::string ReadIniValue(Platform& platform, std::string_view section, std::string_view key) {
  return platform.Ini().ReadString(SeedFilePath(platform), section, key, "ERROR", 255);
}

std::vector<SeedWrite> KeyListWrites(Platform& platform, KeyList list) {
  std::vector<SeedWrite> w;
  switch (list) {
    case KeyList::kEntry:
      w.push_back(Copy("ImageOrSWF"));
      break;
    case KeyList::kFlashScreen:
      w.push_back(Empty(T::kSaverKey));
      w.push_back(Empty(T::kVendorKey));
      w.push_back(Empty(T::kFileKey));
      w.push_back({T::kFileKey, "SaverPath", "SaverPath", ""});
      w.push_back(Empty(T::kSettingsKey));
      w.push_back(Copy("BackColor", "SaverBgcolor"));
      w.push_back(Copy("Quality", "SaverQuality"));
      AddDialogTexts(w);
      AddInputRules(w);
      w.push_back(Copy("ScaleModes"));
      w.push_back(LoadedTrue());
      break;
    case KeyList::kDialogMovie:
      w.push_back(Empty(T::kSaverKey));
      w.push_back(Empty(T::kVendorKey));
      w.push_back(Empty(T::kSettingsKey));
      w.push_back({T::kFileKey, "SaverPath", "SaverPath", ""});
      w.push_back(Copy("BackColor", "SaverBgcolor"));
      w.push_back(Copy("Quality", "SaverQuality"));
      AddDialogTexts(w);
      w.push_back(LoadedTrue());
      break;
    case KeyList::kDialogPicture:
      w.push_back(Empty(T::kSaverKey));
      w.push_back(Empty(T::kVendorKey));
      w.push_back(Empty(T::kSettingsKey));
      AddDialogTexts(w);
      // Last, as in every list: a seeding cut short before it is done again at the next start.
      w.push_back(LoadedTrue());
      break;
    case KeyList::kSlideshow: {
      w.push_back(Empty(T::kSaverKey));
      w.push_back(Empty(T::kVendorKey));
      w.push_back(Empty(T::kSettingsKey));
      AddDialogTexts(w);
      AddInputRules(w);
      w.push_back(Copy("TestSaver"));
      w.push_back(Copy("SaverPath", "Saverpath"));
      w.push_back(Copy("Effects", "SaverEffects"));
      for (const char* name :
           {"SaverTime", "SaverInterval", "SaverAudio", "Restartmusic", "SaverBgSelect"}) {
        w.push_back(Copy(name));
      }
      const std::string select(Trim(ReadIniValue(platform, kSeedSection, "SaverBgSelect")));
      if (select == "1") {
        w.push_back(Copy("BackColor", "SaverBgColor"));
      } else if (select == "2") {
        w.push_back(Copy("SaverGradientUP"));
        w.push_back(Copy("SaverGradientDown"));
        w.push_back(Copy("SaverGradientAngle"));
      } else if (select == "3") {
        w.push_back(Copy("SaverImagebg"));
      }
      w.push_back(Copy("SaverSort"));
      w.push_back(LoadedTrue());
      break;
    }
  }
  return w;
}

void SeedSettings(Platform& platform, const std::string& saverName, KeyList list) {
  SettingsStore& store = platform.Settings();
  const std::string settingsKey = SettingsKey(saverName);
  if (ReadRegValue(store, settingsKey, "Loaded").empty()) {
    WriteRegValue(store, settingsKey, "Loaded", "False");
  }
  if (ReadRegValue(store, settingsKey, "Loaded") != "False") return;

  // All of the list's seed keys are read first, then the values are written in the list's order.
  const std::vector<SeedWrite> writes = KeyListWrites(platform, list);
  std::vector<std::string> values;
  values.reserve(writes.size());
  for (const auto& w : writes) {
    values.push_back(w.iniKey.empty() ? w.literal : ReadIniValue(platform, kSeedSection, w.iniKey));
  }
  // One change of the store: a store that can write the whole list at once does (the settings
  // file); the others write it value by value, "Loaded" = "True" last.
  std::vector<SettingWrite> change;
  change.reserve(writes.size());
  for (std::size_t i = 0; i < writes.size(); ++i) {
    const SeedWrite& w = writes[i];
    std::string key;
    switch (w.target) {
      case T::kSaverKey:
        key = SaverKey(saverName);
        break;
      case T::kVendorKey:
        key = VendorKey(saverName);
        break;
      case T::kFileKey:
        key = FileKey(saverName);
        break;
      case T::kSettingsKey:
        key = settingsKey;
        break;
    }
    change.push_back({std::move(key), w.name, std::move(values[i])});
  }
  WriteRegValues(store, change);
}

}  // namespace dbx
