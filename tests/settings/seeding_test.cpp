#include "settings/seeding.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <set>

#include "platform/headless/headless_platform.h"
#include "settings/mod_reg.h"
#include "settings/paths.h"

namespace dbx {
namespace {

const char* kSaver = "My Saver";
const char* kOption = "Software\\DEvOrevi\\My Saver\\Option";
const char* kFile = "Software\\DEvOrevi\\My Saver\\File";

// A seed file where every key's value names the key, so each stored value shows where it came from.
std::string FullSeed(std::string_view bgSelect = "2") {
  std::string s = "[DM-NOVAPOST]\n";
  for (const char* k :
       {"ImageOrSWF",         "SaverPath",    "Saverpath2",      "SaverBgcolor",
        "SaverQuality",       "SaverDec",     "SaverVer",        "SaverCopy",
        "SaverLogo",          "SaverURL",     "LeftMouse",       "RightMouse",
        "MoveMouse",          "Keydown",      "HideMouse",       "ScaleModes",
        "TestSaver",          "SaverEffects", "SaverTime",       "SaverInterval",
        "SaverAudio",         "Restartmusic", "SaverGradientUP", "SaverGradientDown",
        "SaverGradientAngle", "SaverImagebg", "SaverSort"}) {
    s += std::string(k) + "=v-" + k + "\n";
  }
  s += "SaverBgSelect= " + std::string(bgSelect) + " \n";
  return s;
}

struct Fixture {
  HeadlessPlatform p;
  explicit Fixture(std::string seed = FullSeed()) {
    p.files.files[SeedFilePath(p)] = std::move(seed);
  }
  std::string Get(const char* key, const char* name) {
    return p.settings.doc.ReadText(key, name).value_or("<absent>");
  }
  // Every (key, value name) that exists in the store.
  std::set<std::string> Names() {
    std::set<std::string> out;
    for (const auto& k : p.settings.doc.keys()) {
      for (const auto& v : k.values) out.insert(k.path + "|" + v.name);
    }
    return out;
  }
};

std::set<std::string> OptionNames(std::initializer_list<const char*> names) {
  std::set<std::string> out;
  for (const char* n : names) out.insert(std::string(kOption) + "|" + n);
  return out;
}

TEST(Seeding, EntryListCopiesOnlyTheContentKindAndLeavesLoadedFalse) {
  Fixture f;
  SeedSettings(f.p, kSaver, KeyList::kEntry);
  EXPECT_EQ(f.Names(), OptionNames({"Loaded", "ImageOrSWF"}));
  EXPECT_EQ(f.Get(kOption, "Loaded"), "False");
  EXPECT_EQ(f.Get(kOption, "ImageOrSWF"), "v-ImageOrSWF");
}

TEST(Seeding, EachListAsTheFirstDecidesWhichSettingsExist) {
  struct Case {
    KeyList list;
    std::set<std::string> expected;
  };
  const auto common = [](std::set<std::string> s) {
    s.insert("Software\\My Saver|");
    s.insert("Software\\DEvOrevi\\My Saver|");
    s.insert(std::string(kOption) + "|");
    for (const char* n :
         {"Loaded", "ImageOrSWF", "SaverDec", "SaverVer", "SaverCopy", "SaverLogo", "SaverURL"}) {
      s.insert(std::string(kOption) + "|" + n);
    }
    return s;
  };
  auto flash = common(OptionNames({"BackColor", "Quality", "LeftMouse", "RightMouse", "MoveMouse",
                                   "Keydown", "ShowCursor", "ScaleModes"}));
  flash.insert(std::string(kFile) + "|");
  flash.insert(std::string(kFile) + "|SaverPath");
  auto movie = common(OptionNames({"BackColor", "Quality"}));
  movie.insert(std::string(kFile) + "|SaverPath");
  auto picture = common({});
  auto slides = common(OptionNames(
      {"LeftMouse", "RightMouse", "MoveMouse", "Keydown", "ShowCursor", "TestSaver", "SaverPath",
       "Effects", "SaverTime", "SaverInterval", "SaverAudio", "Restartmusic", "SaverBgSelect",
       "SaverGradientUP", "SaverGradientDown", "SaverGradientAngle", "SaverSort"}));
  const Case cases[] = {{KeyList::kFlashScreen, flash},
                        {KeyList::kDialogMovie, movie},
                        {KeyList::kDialogPicture, picture},
                        {KeyList::kSlideshow, slides}};
  for (const auto& c : cases) {
    Fixture f;
    SeedSettings(f.p, kSaver, KeyList::kEntry);
    SeedSettings(f.p, kSaver, c.list);
    EXPECT_EQ(f.Get(kOption, "Loaded"), "True") << static_cast<int>(c.list);
    EXPECT_EQ(f.Names(), c.expected) << static_cast<int>(c.list);
    // Every later list finds "Loaded" = "True" and copies nothing more.
    const auto before = f.Names();
    const int writes = f.p.settings.writes;
    for (KeyList later : {KeyList::kEntry, KeyList::kFlashScreen, KeyList::kDialogMovie,
                          KeyList::kDialogPicture, KeyList::kSlideshow}) {
      SeedSettings(f.p, kSaver, later);
    }
    EXPECT_EQ(f.Names(), before) << static_cast<int>(c.list);
    EXPECT_EQ(f.p.settings.writes, writes) << static_cast<int>(c.list);
  }
}

TEST(Seeding, ValuesComeFromTheNamedSeedKeys) {
  Fixture f;
  SeedSettings(f.p, kSaver, KeyList::kFlashScreen);
  EXPECT_EQ(f.Get(kFile, "SaverPath"), "v-SaverPath");
  EXPECT_EQ(f.Get(kOption, "ShowCursor"), "v-HideMouse");
  EXPECT_EQ(f.Get(kOption, "BackColor"), "v-SaverBgcolor");
  EXPECT_EQ(f.Get(kOption, "Quality"), "v-SaverQuality");
  EXPECT_EQ(f.Get(kOption, "KeyDown"), "v-Keydown");

  Fixture s;
  SeedSettings(s.p, kSaver, KeyList::kSlideshow);
  EXPECT_EQ(s.Get(kOption, "Effects"), "v-SaverEffects");
  EXPECT_EQ(s.Get(kOption, "SaverPath"), "v-SaverPath");  // INI keys match without case
  EXPECT_EQ(s.Get(kOption, "SaverGradientAngle"), "v-SaverGradientAngle");
}

TEST(Seeding, SlideshowBackgroundKeysFollowTheSeedSelection) {
  struct Case {
    const char* select;
    std::vector<const char*> present;
  };
  const Case cases[] = {{"1", {"BackColor"}},
                        {"2", {"SaverGradientUP", "SaverGradientDown", "SaverGradientAngle"}},
                        {"3", {"SaverImagebg"}},
                        {"4", {}},
                        {"", {}}};
  for (const auto& c : cases) {
    Fixture f(FullSeed(c.select) + "SaverBgColor=255\n");
    SeedSettings(f.p, kSaver, KeyList::kSlideshow);
    for (const char* name : {"BackColor", "SaverGradientUP", "SaverGradientDown",
                             "SaverGradientAngle", "SaverImagebg"}) {
      const bool wanted =
          std::find(c.present.begin(), c.present.end(), std::string_view(name)) != c.present.end();
      EXPECT_EQ(f.p.settings.doc.ReadText(kOption, name).has_value(), wanted)
          << "select '" << c.select << "' " << name;
    }
  }
}

constexpr KeyList kWindowLists[] = {KeyList::kFlashScreen, KeyList::kDialogMovie,
                                    KeyList::kDialogPicture, KeyList::kSlideshow};

TEST(Seeding, AListIsOneChangeOfAStoreThatWritesBatches) {
  for (KeyList list : kWindowLists) {
    Fixture f;
    f.p.settings.atomic = true;
    SeedSettings(f.p, kSaver, KeyList::kEntry);
    const int writes = f.p.settings.writes, batches = f.p.settings.batches;
    SeedSettings(f.p, kSaver, list);
    EXPECT_EQ(f.p.settings.writes, writes) << static_cast<int>(list);
    EXPECT_EQ(f.p.settings.batches, batches + 1) << static_cast<int>(list);
    EXPECT_EQ(f.Get(kOption, "Loaded"), "True");
  }
}

TEST(Seeding, ASeedingKilledMidwayIsDoneAgainAtTheNextStart) {
  // Value by value (the registry), "Loaded" = "True" must come last; as one batch (the settings
  // file), a kill leaves all or nothing. Either way the next start finishes the job.
  for (bool atomic : {false, true}) {
    for (KeyList list : kWindowLists) {
      Fixture whole;
      SeedSettings(whole.p, kSaver, KeyList::kEntry);
      SeedSettings(whole.p, kSaver, list);
      const auto expected = whole.Names();
      for (int survive = 0;; ++survive) {
        Fixture f;
        f.p.settings.atomic = atomic;
        SeedSettings(f.p, kSaver, KeyList::kEntry);
        const int before = f.p.settings.writes + f.p.settings.batches;
        f.p.settings.changesLeft = survive;
        SeedSettings(f.p, kSaver, list);
        const bool cut = f.p.settings.changesLeft == 0 &&
                         f.p.settings.writes + f.p.settings.batches - before > survive;
        f.p.settings.changesLeft = -1;  // the next start
        SeedSettings(f.p, kSaver, list);
        EXPECT_EQ(f.Names(), expected)
            << (atomic ? "batch" : "value by value") << ", list " << static_cast<int>(list)
            << ", killed after " << survive << " changes";
        EXPECT_EQ(f.Get(kOption, "Loaded"), "True");
        if (!cut) break;
      }
    }
  }
}

TEST(Seeding, MissingSeedFileOrKeysStoreError) {
  Fixture f("[DM-NOVAPOST]\nImageOrSWF=False\n");
  SeedSettings(f.p, kSaver, KeyList::kFlashScreen);
  EXPECT_EQ(f.Get(kOption, "LeftMouse"), "ERROR");
  EXPECT_EQ(f.Get(kOption, "Loaded"), "True");

  HeadlessPlatform none;  // no seed file at all
  SeedSettings(none, kSaver, KeyList::kEntry);
  EXPECT_EQ(none.settings.doc.ReadText(kOption, "ImageOrSWF"), "ERROR");
}

TEST(Seeding, LongSeedValuesAreCutTo254) {
  Fixture f("[DM-NOVAPOST]\nSaverDec=" + std::string(300, 'd') + "\n");
  SeedSettings(f.p, kSaver, KeyList::kDialogPicture);
  EXPECT_EQ(f.Get(kOption, "SaverDec"), std::string(254, 'd'));
}

TEST(Seeding, AStoredLoadedOtherThanFalseStopsTheCopy) {
  Fixture f;
  f.p.settings.doc.WriteText(kOption, "Loaded", "maybe");
  SeedSettings(f.p, kSaver, KeyList::kSlideshow);
  EXPECT_EQ(f.Names(), OptionNames({"Loaded"}));
}

TEST(Seeding, EmptySaverNameStillSeedsUnderTheEmptyName) {
  Fixture f;
  SeedSettings(f.p, "", KeyList::kEntry);
  EXPECT_EQ(ReadRegValue(f.p.settings, SettingsKey(""), "ImageOrSWF"), "v-ImageOrSWF");
}

TEST(ModReg, ReadRegValueGivesEmptyTextForNothingAndCutsAtZero) {
  HeadlessPlatform p;
  p.settings.doc.WriteRaw("K", "Num", "dword:00000001");
  p.settings.doc.WriteText("K", "Z", std::string("ab\0cd", 5));
  EXPECT_EQ(ReadRegValue(p.settings, "K", "Num"), "");
  EXPECT_EQ(ReadRegValue(p.settings, "K", "Missing"), "");
  EXPECT_EQ(ReadRegValue(p.settings, "Nope", "Z"), "");
  EXPECT_EQ(ReadRegValue(p.settings, "K", "z"), "ab");
}

}  // namespace
}  // namespace dbx
