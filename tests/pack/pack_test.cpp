#include "pack/pack.h"

#include <gtest/gtest.h>

#include <fstream>
#include <functional>
#include <map>
#include <sstream>

#include "pack/wave_check.h"
#include "platform/headless/headless_platform.h"
#include "settings/mod_reg.h"
#include "settings/paths.h"
#include "settings/seeding.h"

namespace dbx {
namespace {

namespace fs = std::filesystem;

// Decodes the test's pictures: files that begin with "PIC".
class FakePictures final : public ImageLoader {
 public:
  std::optional<Surface> Load(const std::string& path) override {
    std::ifstream in(path, std::ios::binary);
    char head[3] = {};
    in.read(head, 3);
    if (!in || std::string(head, 3) != "PIC") return std::nullopt;
    return Surface(2, 2);
  }
  std::optional<Surface> Decode(const std::uint8_t*, std::size_t) override { return std::nullopt; }
};

std::string Wave(std::uint16_t formatTag, bool withData = true) {
  std::string fmt(16, '\0');
  fmt[0] = static_cast<char>(formatTag & 0xFF);
  fmt[1] = static_cast<char>(formatTag >> 8);
  fmt[2] = 1;    // mono
  fmt[14] = 16;  // bits
  std::string body = "WAVEfmt ";
  body += std::string("\x10\0\0\0", 4) + fmt;
  if (withData) body += std::string("data\x04\0\0\0", 8) + std::string(4, '\0');
  const auto n = static_cast<std::uint32_t>(body.size());
  std::string riff = "RIFF";
  for (int i = 0; i < 4; ++i) riff += static_cast<char>((n >> (8 * i)) & 0xFF);
  return riff + body;
}

// A movie the player parses: header, one ShowFrame, End.
std::string TinyMovie() {
  std::string m = "FWS";
  m += static_cast<char>(6);
  std::string body;
  body += '\x00';                      // an empty frame rectangle (5-bit field of 0)
  body += std::string("\x00\x0C", 2);  // 12 frames per second
  body += std::string("\x01\x00", 2);  // one frame
  body += std::string("\x40\x00", 2);  // ShowFrame
  body += std::string("\x00\x00", 2);  // End
  const auto n = static_cast<std::uint32_t>(body.size() + 8);
  for (int i = 0; i < 4; ++i) m += static_cast<char>((n >> (8 * i)) & 0xFF);
  return m + body;
}

void Write(const fs::path& p, const std::string& data) {
  fs::create_directories(p.parent_path());
  std::ofstream(p, std::ios::binary) << data;
}

std::string Read(const fs::path& p) {
  std::ifstream in(p, std::ios::binary);
  std::stringstream ss;
  ss << in.rdbuf();
  return ss.str();
}

// Every entry of a folder tree with its contents, to see that a refused pack changed nothing.
std::map<std::string, std::string> Snapshot(const fs::path& dir) {
  std::map<std::string, std::string> out;
  if (!fs::exists(dir)) return out;
  for (const auto& e : fs::recursive_directory_iterator(dir)) {
    out[fs::relative(e.path(), dir).generic_string()] = e.is_regular_file() ? Read(e.path()) : "/";
  }
  return out;
}

void ExpectNoError(HeadlessPlatform& p) {
  for (const auto& k : p.settings.doc.keys()) {
    for (const auto& v : k.values) EXPECT_NE(v.data, "ERROR") << k.path << " " << v.name;
  }
}

class PackTest : public ::testing::Test {
 protected:
  void SetUp() override {
    root_ = fs::temp_directory_path() /
            ("dbx-pack-" + std::to_string(::testing::UnitTest::GetInstance()->random_seed()) + "-" +
             ::testing::UnitTest::GetInstance()->current_test_info()->name());
    fs::remove_all(root_);
    Write(root_ / "in" / "program", "#!program");
    Write(root_ / "in" / "pics" / "img10.jpg", "PIC10");
    Write(root_ / "in" / "pics" / "img2.jpg", "PIC2");
    Write(root_ / "in" / "pics" / "Img1.BMP", "PIC1");
    Write(root_ / "in" / "pics" / "notes.txt", "not a picture, not packed");
    Write(root_ / "in" / "tune.wav", Wave(1));
    Write(root_ / "in" / "bg.bmp", "PICbg");
    Write(root_ / "in" / "movie.swf", TinyMovie());
  }
  void TearDown() override { fs::remove_all(root_); }

  PackOptions Pictures() {
    PackOptions o;
    o.name = "Holiday 2026";
    o.pictures = {root_ / "in" / "pics"};
    o.program = root_ / "in" / "program";
    o.out = root_ / "out";
    return o;
  }

  fs::path root_;
  FakePictures images_;
};

TEST(PackNames, NaturalOrder) {
  const std::vector<std::pair<std::string, std::string>> less = {
      {"img2.jpg", "img10.jpg"}, {"a.jpg", "B.jpg"}, {"img9", "img010"}, {"x1y2", "x1y10"},
      {"pic", "pic1"},           {"0001", "2"},      {"b1", "c0"},       {"Img1.BMP", "img2.jpg"}};
  for (const auto& [a, b] : less) {
    EXPECT_TRUE(NaturalLess(a, b)) << a << " < " << b;
    EXPECT_FALSE(NaturalLess(b, a)) << b << " !< " << a;
  }
  EXPECT_FALSE(NaturalLess("same", "same"));
}

TEST(PackNames, AnsiCodePage) {
  EXPECT_EQ(Utf8ToAnsi("plain"), "plain");
  EXPECT_EQ(Utf8ToAnsi("caf\xC3\xA9"), "caf\xE9");    // é
  EXPECT_EQ(Utf8ToAnsi("\xE2\x82\xAC 5"), "\x80 5");  // € lies in the 0x80 row
  EXPECT_EQ(Utf8ToAnsi("\xC5\xA0"), "\x8A");          // Š
  for (const char* bad : {"\xE6\xBC\xA2",             // a CJK character
                          "\xC4\x80",                 // Ā, not in the code page
                          "\xC3", "\xE2\x82", "\xFF",
                          "\x80"
                          "abc"}) {
    EXPECT_FALSE(Utf8ToAnsi(bad).has_value()) << bad;
  }
}

TEST(PackNames, Colours) {
  EXPECT_EQ(ParseColour("#FF0000"), 0x0000FF);
  EXPECT_EQ(ParseColour("#0000ff"), 0xFF0000);
  EXPECT_EQ(ParseColour("#123456"), 0x563412);
  EXPECT_EQ(ParseColour("255"), 255);
  EXPECT_EQ(ParseColour("16777215"), 0xFFFFFF);
  for (const char* bad : {"", "#12345", "#GG0000", "16777216", "-1", "red", "1e3"}) {
    EXPECT_FALSE(ParseColour(bad).has_value()) << bad;
  }
}

TEST(PackArguments, Table) {
  struct Case {
    std::vector<std::string> args;
    std::string error;  // a part of the message; empty: accepted
  };
  const std::vector<Case> cases = {
      {{"--name", "A", "--pictures", "d", "--out", "o"}, ""},
      {{"--name", "A", "--pictures", "d", "--effects", "all", "--out", "o"}, ""},
      {{"--name", "A", "--pictures", "d", "--effects", "0", "5", "17", "--out", "o"}, ""},
      {{"--name", "A", "--pictures", "d", "--effects", "x", "--out", "o"}, "--effects x"},
      {{"--name", "A", "--pictures", "d", "--effects", "--out", "o"}, "--effects"},
      {{"--name", "A", "--pictures", "--out", "o"}, "--pictures"},
      {{"--name", "A", "--movie", "m.swf", "--scale", "no-border", "--out", "o"}, "no-border"},
      {{"--name", "A", "--movie", "m.swf", "--scale", "wide", "--out", "o"}, "--scale wide"},
      {{"--name", "A", "--movie", "m.swf", "--quality", "ultra", "--out", "o"}, "--quality"},
      {{"--name", "A", "--pictures", "d", "--background", "gradient", "#000000", "--out", "o"},
       "--background gradient: a value is missing"},
      {{"--name", "A", "--pictures", "d", "--background", "gradient", "#00", "#000000", "9",
        "--out", "o"},
       "not a colour"},
      {{"--name", "A", "--pictures", "d", "--background", "teal", "--out", "o"}, "--background"},
      {{"--name", "A", "--pictures", "d", "--inputs", "key,wheel", "--out", "o"}, "--inputs"},
      {{"--name", "A", "--pictures", "d"}, "--out"},
      {{"--pictures", "d", "--out", "o"}, "--name"},
      {{"--name", "A", "--frobnicate", "--out", "o"}, "unknown option"},
      {{"--name"}, "value is missing"},
  };
  for (const Case& c : cases) {
    const PackCommand cmd = ParsePackArguments(c.args);
    std::string joined;
    for (const auto& a : c.args) joined += a + " ";
    if (c.error.empty()) {
      EXPECT_EQ(cmd.error, "") << joined;
    } else {
      EXPECT_NE(cmd.error.find(c.error), std::string::npos) << joined << " -> " << cmd.error;
    }
  }
  const PackCommand full =
      ParsePackArguments({"--name", "A", "--pictures", "d", "--background", "gradient", "#FF0000",
                          "#0000FF", "45", "--inputs", "key,move", "--show-pointer", "--music",
                          "t.wav", "--once", "--installer", "--out", "o"});
  ASSERT_EQ(full.error, "");
  EXPECT_EQ(full.options.background, PackBackground::kGradient);
  EXPECT_EQ(full.options.gradientUp, 0x0000FF);
  EXPECT_EQ(full.options.gradientDown, 0xFF0000);
  EXPECT_EQ(full.options.gradientAngle, "45");
  EXPECT_TRUE(full.options.inputs.key && full.options.inputs.move);
  EXPECT_FALSE(full.options.inputs.leftClick || full.options.inputs.rightClick);
  EXPECT_TRUE(full.options.inputs.showPointer && full.options.musicOnce && full.installer);
  EXPECT_EQ(full.options.encoding, SeedEncoding::kAnsi);  // the installer is for Windows
}

TEST(PackWave, PcmOnly) {
  auto ok = [](const std::string& s) {
    return IsPcmWave(reinterpret_cast<const std::uint8_t*>(s.data()), s.size());
  };
  EXPECT_TRUE(ok(Wave(1)));
  EXPECT_FALSE(ok(Wave(3)));     // floating point
  EXPECT_FALSE(ok(Wave(0x55)));  // compressed (MP3)
  EXPECT_FALSE(ok(Wave(1, false)));
  const std::string good = Wave(1);
  for (std::size_t cut = 0; cut < 44; ++cut) EXPECT_FALSE(ok(good.substr(0, cut))) << cut;
  std::string huge = good;
  huge[16] = '\xFF';  // a "fmt " chunk claiming more bytes than the file has
  huge[17] = '\xFF';
  EXPECT_FALSE(ok(huge));
}

// The packed seed file, read back through the program's own seed-file reader and seeding, gives
// every setting under its settings name with the packed value.
TEST_F(PackTest, SeedFileArrivesThroughSeeding) {
  PackOptions o = Pictures();
  o.interval = "7.5";
  o.effects = {0, 5, 17};
  o.step = "12";
  o.background = PackBackground::kGradient;
  o.gradientUp = 255;
  o.gradientDown = 16711680;
  o.gradientAngle = "315";
  o.music = root_ / "in" / "tune.wav";
  o.musicOnce = true;
  o.inputs.move = false;
  o.inputs.showPointer = true;
  o.description = "Our trip";
  o.version = "1.2";
  o.copyright = "(c) us";
  o.url = "https://example.invalid";
  const PackReport r = Pack(o, images_);
  ASSERT_TRUE(r.ok) << (r.errors.empty() ? "" : r.errors[0]);

  HeadlessPlatform p;
  p.files.files[SeedFilePath(p)] = Read(o.out / "Zirezarev.ini");
  SeedSettings(p, o.name, KeyList::kEntry);
  SeedSettings(p, o.name, KeyList::kSlideshow);
  const std::string key = SettingsKey(o.name);
  const std::map<std::string, std::string> expected = {
      {"ImageOrSWF", "True"},
      {"SaverDec", "Our trip"},
      {"SaverVer", "1.2"},
      {"SaverCopy", "(c) us"},
      {"SaverURL", "https://example.invalid"},
      {"LeftMouse", "True"},
      {"RightMouse", "True"},
      {"MoveMouse", "True"},  // moving does not end this show
      {"KeyDown", "True"},
      {"ShowCursor", "True"},
      {"TestSaver", "False"},
      {"Effects", "0 5 17"},
      {"SaverTime", "12"},
      {"SaverInterval", "7.5"},
      {"SaverAudio", "tune.wav"},
      {"Restartmusic", "Once"},
      {"SaverBgSelect", "2"},
      {"SaverGradientUP", "255"},
      {"SaverGradientDown", "16711680"},
      {"SaverGradientAngle", "315"},
      {"SaverSort", "Img1.BMP*img2.jpg*img10.jpg*"},
      {"Loaded", "True"},
  };
  for (const auto& [name, value] : expected) {
    EXPECT_EQ(ReadRegValue(p.Settings(), key, name), value) << name;
  }
  // No setting of the lists seeds "ERROR": every key the screens read is in the file.
  ExpectNoError(p);

  // The content folder holds the pictures and the music; the program carries the saver's name.
  const fs::path content = o.out / "DEvOrevi" / o.name;
  for (const char* f : {"Img1.BMP", "img2.jpg", "img10.jpg", "tune.wav"}) {
    EXPECT_TRUE(fs::is_regular_file(content / f)) << f;
  }
  EXPECT_FALSE(fs::exists(content / "notes.txt"));
  EXPECT_EQ(Read(o.out / "Holiday 2026.scr"), "#!program");
}

TEST_F(PackTest, MovieSeedThroughTheScreensLists) {
  PackOptions o = Pictures();
  o.pictures.clear();
  o.movie = root_ / "in" / "movie.swf";
  o.scaleMode = "3";
  o.quality = "Low";
  o.inputs.leftClick = false;
  const PackReport r = Pack(o, images_);
  ASSERT_TRUE(r.ok) << (r.errors.empty() ? "" : r.errors[0]);
  EXPECT_EQ(Read(o.out / "Holiday 2026.swf"), TinyMovie());
  EXPECT_FALSE(fs::exists(o.out / "DEvOrevi"));

  HeadlessPlatform p;
  p.files.files[SeedFilePath(p)] = Read(o.out / "Zirezarev.ini");
  SeedSettings(p, o.name, KeyList::kEntry);
  SeedSettings(p, o.name, KeyList::kFlashScreen);
  const std::string key = SettingsKey(o.name);
  EXPECT_EQ(ReadRegValue(p.Settings(), key, "ImageOrSWF"), "False");
  EXPECT_EQ(ReadRegValue(p.Settings(), key, "ScaleModes"), "3");
  EXPECT_EQ(ReadRegValue(p.Settings(), key, "Quality"), "Low");
  EXPECT_EQ(ReadRegValue(p.Settings(), key, "BackColor"), "-1");  // the movie's own background
  EXPECT_EQ(ReadRegValue(p.Settings(), key, "LeftMouse"), "False");
  EXPECT_EQ(ReadRegValue(p.Settings(), FileKey(o.name), "SaverPath"), "Holiday 2026.swf");
  ExpectNoError(p);
}

// Every bad input is named with its file, and the output folder stays as it was, whether it was
// missing or held an earlier pack; nothing half-written is left beside it.
TEST_F(PackTest, BadInputsLeaveTheOutputAsItWas) {
  Write(root_ / "in" / "broken.jpg", "JUNK");
  Write(root_ / "in" / "float.wav", Wave(3));
  Write(root_ / "in" / "bad.swf", "FWS\x06\x02");
  Write(root_ / "in" / "\xE6\xBC\xA2.jpg", "PICkanji");
  struct Case {
    const char* what;
    std::function<void(PackOptions&)> change;
    std::string message;
  };
  const std::vector<Case> cases = {
      {"picture that does not decode",
       [&](PackOptions& o) { o.pictures = {root_ / "in" / "broken.jpg"}; },
       "broken.jpg: not a picture"},
      {"missing picture", [&](PackOptions& o) { o.pictures = {root_ / "in" / "gone.jpg"}; },
       "gone.jpg: no such file"},
      {"wave that is not PCM", [&](PackOptions& o) { o.music = root_ / "in" / "float.wav"; },
       "float.wav: not a PCM wave"},
      {"movie that does not parse",
       [&](PackOptions& o) {
         o.pictures.clear();
         o.movie = root_ / "in" / "bad.swf";
       },
       "bad.swf: not a movie"},
      {"name outside the code page",
       [&](PackOptions& o) { o.pictures = {root_ / "in" / "\xE6\xBC\xA2.jpg"}; }, "ANSI code page"},
      {"saver name outside the code page", [&](PackOptions& o) { o.name = "\xE6\xBC\xA2"; },
       "ANSI code page"},
      {"saver name with a path character", [&](PackOptions& o) { o.name = "a/b"; },
       "Windows file name"},
      {"background picture that does not decode",
       [&](PackOptions& o) {
         o.background = PackBackground::kPicture;
         o.backgroundPicture = root_ / "in" / "broken.jpg";
       },
       "broken.jpg: not a picture"},
      {"effect out of range", [&](PackOptions& o) { o.effects = {19}; }, "no such effect"},
      {"interval not a number", [&](PackOptions& o) { o.interval = "soon"; }, "--interval soon"},
  };
  for (bool earlierPack : {false, true}) {
    fs::remove_all(root_ / "out");
    if (earlierPack) {
      ASSERT_TRUE(Pack(Pictures(), images_).ok);
    }
    const auto before = Snapshot(root_ / "out");
    const auto parentBefore = Snapshot(root_);
    for (const Case& c : cases) {
      PackOptions o = Pictures();
      c.change(o);
      const PackReport r = Pack(o, images_);
      EXPECT_FALSE(r.ok) << c.what;
      std::string all;
      for (const auto& e : r.errors) all += e + "\n";
      EXPECT_NE(all.find(c.message), std::string::npos) << c.what << ": " << all;
      EXPECT_EQ(Snapshot(root_ / "out"), before) << c.what;
      EXPECT_EQ(Snapshot(root_), parentBefore) << c.what;
    }
  }
}

TEST_F(PackTest, ReplacesAnEarlierPackButNotOtherFolders) {
  ASSERT_TRUE(Pack(Pictures(), images_).ok);
  PackOptions second = Pictures();
  second.pictures = {root_ / "in" / "pics" / "img2.jpg"};
  ASSERT_TRUE(Pack(second, images_).ok);
  EXPECT_FALSE(fs::exists(root_ / "out" / "DEvOrevi" / "Holiday 2026" / "img10.jpg"));
  EXPECT_NE(Read(root_ / "out" / "Zirezarev.ini").find("SaverSort=img2.jpg*\r\n"),
            std::string::npos);

  Write(root_ / "home" / "letter.txt", "keep me");
  PackOptions intoHome = Pictures();
  intoHome.out = root_ / "home";
  const PackReport r = Pack(intoHome, images_);
  EXPECT_FALSE(r.ok);
  EXPECT_EQ(Read(root_ / "home" / "letter.txt"), "keep me");
}

TEST_F(PackTest, AnsiSeedForWindows) {
  Write(root_ / "in" / "caf\xC3\xA9.jpg", "PICcafe");
  PackOptions o = Pictures();
  o.pictures = {root_ / "in" / "caf\xC3\xA9.jpg"};
  o.description = "\xE2\x82\xAC trip";
  o.encoding = SeedEncoding::kAnsi;
  ASSERT_TRUE(Pack(o, images_).ok);
  const std::string seed = Read(o.out / "Zirezarev.ini");
  EXPECT_NE(seed.find("SaverSort=caf\xE9.jpg*\r\n"), std::string::npos);
  EXPECT_NE(seed.find("SaverDec=\x80 trip\r\n"), std::string::npos);
}

TEST(PackInstaller, RemovesExactlyWhatItInstalls) {
  PackOptions o;
  o.name = "Price $5";
  const std::vector<fs::path> files = {"Price $5.scr", "Zirezarev.ini",
                                       fs::path("DEvOrevi") / "Price $5" / "a.jpg",
                                       fs::path("DEvOrevi") / "Price $5" / "music.wav"};
  const std::string s = InstallerScript(o, "/tmp/packed", files, "/tmp/Price $5 Setup.exe");
  for (const char* expected :
       {"File \"/oname=a.jpg\" \"/tmp/packed/DEvOrevi/Price $$5/a.jpg\"",
        "SetOutPath \"$SYSDIR\\DEvOrevi\\Price $$5\"", "Delete \"$SYSDIR\\Price $$5.scr\"",
        "Delete \"$SYSDIR\\Zirezarev.ini\"", "Delete \"$SYSDIR\\DEvOrevi\\Price $$5\\music.wav\"",
        "${DisableX64FSRedirection}", "IfSilent done", "WriteUninstaller"}) {
    EXPECT_NE(s.find(expected), std::string::npos) << expected;
  }
  // Folders go after their files, the inner before the outer, and only when empty (no /r).
  const auto inner = s.find("RMDir \"$SYSDIR\\DEvOrevi\\Price $$5\"");
  const auto outer = s.find("RMDir \"$SYSDIR\\DEvOrevi\"");
  ASSERT_NE(inner, std::string::npos);
  ASSERT_NE(outer, std::string::npos);
  EXPECT_LT(s.find("Delete \"$SYSDIR\\DEvOrevi\\Price $$5\\music.wav\""), inner);
  EXPECT_LT(inner, outer);
  EXPECT_EQ(s.find("/r"), std::string::npos);
}

TEST(PackXscreensaver, EntryAtTheTopOfTheList) {
  const std::string rc =
      "mode:\t\trandom\nprograms:\t\t\t\t\\\n  maze -root \\n\\\n  \"Rocks\" rocks -root \\n\n"
      "pointerPollTime: 0:00:05\n";
  const std::string out = AddXscreensaverEntry(rc, "", "Holiday", "'/h/Holiday.scr' -root");
  EXPECT_NE(out.find("programs:\t\t\t\t\\\n  \"Holiday\" '/h/Holiday.scr' -root \\n\\\n  maze"),
            std::string::npos)
      << out;
  EXPECT_NE(out.find("pointerPollTime"), std::string::npos);
  EXPECT_EQ(AddXscreensaverEntry(out, "", "Holiday", "'/h/Holiday.scr' -root"), out);

  const std::string defaults =
      "*mode: random\n*programs:\t\t\\\n  maze -root \\n\\\n  rocks -root \\n\n*other: 1\n";
  const std::string fresh = AddXscreensaverEntry("", defaults, "H", "h -root");
  EXPECT_EQ(fresh, "programs: \\\n  \"H\" h -root \\n\\\n  maze -root \\n\\\n  rocks -root \\n\n");
  EXPECT_EQ(AddXscreensaverEntry("", "", "H", "h -root"), "programs: \\\n  \"H\" h -root \\n\n");
}

}  // namespace
}  // namespace dbx
