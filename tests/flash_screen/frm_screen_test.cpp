#include "flash_screen/frm_screen.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <map>

#include "flash_screen/flash_model.h"
#include "platform/headless/headless_platform.h"
#include "settings/paths.h"
#include "startup/sub_main.h"

namespace dbx {
namespace {

const char* kOption = "Software\\DEvOrevi\\Movie\\Option";

struct Screen {
  HeadlessPlatform p;
  std::unique_ptr<frmScreen> form;
  std::map<std::string, std::string> values = {
      {"Loaded", "True"},     {"BackColor", "255"},    {"Quality", "High"},
      {"ScaleModes", "0"},    {"ShowCursor", "False"}, {"LeftMouse", "True"},
      {"RightMouse", "True"}, {"MoveMouse", "False"},  {"Keydown", "True"}};
  Screen() {
    p.files.systemDir = "SYS";
    p.screenSize = {64, 48};
    p.cursor.position = {200, 100};
  }
  frmScreen& Open() {
    for (const auto& [k, v] : values) p.settings.doc.WriteText(kOption, k, v);
    form = std::make_unique<frmScreen>(p, "Movie");
    form->GetWindow()->Show();
    form->GetWindow()->SetState(WindowState::kMaximized);
    return *form;
  }
  HeadlessWindow& Player() { return *static_cast<HeadlessWindow*>(form->Flash().ChildWindow()); }
};

TEST(FlashModel, FindsTheFirstWindowWhoseClassBeginsWithAtl) {
  struct Recorder : WindowEvents {};
  struct Case {
    std::vector<std::string> classes;
    int found;  // index of the recorded window, -1 for none
  };
  using namespace std::string_literals;
  const Case cases[] = {
      {{"Static"s, "ATL:0D42A7E1"s}, 1},      {{"ATL:"s, "ATL:2"s}, 0},
      {{"atl:0D42A7E1"s, "ATL"s}, -1},        {{"Button"s, "xATL:1"s}, -1},
      {{"ATL:"s + std::string(300, 'x')}, 0},
  };
  for (const auto& c : cases) {
    HeadlessPlatform p;
    Recorder r;
    auto top = p.CreateWindow({}, r);
    std::vector<std::unique_ptr<Window>> children;
    for (const auto& cls : c.classes) children.push_back(p.CreateChildWindow(*top, cls, {}, r));
    FlashModel::State() = {};
    for (NativeHandle h : p.DescendantWindows(top->Handle())) {
      if (!FlashModel::FindFlashChild(p, h, 0)) break;
    }
    const NativeHandle expected = c.found < 0 ? 0 : children[c.found]->Handle();
    EXPECT_EQ(FlashModel::State().flashChild, expected) << c.classes.front();
  }
}

TEST(FlashModel, TheFourInputsAreKeptFromThePlayerAndEverythingElsePassesOn) {
  struct Recorder : WindowEvents {
    std::vector<std::string> seen;
    void OnMouseDown(MouseButton b, int, Point) override {
      seen.push_back("down" + std::to_string(static_cast<int>(b)));
    }
    void OnMouseUp(MouseButton b, int, Point) override {
      seen.push_back("up" + std::to_string(static_cast<int>(b)));
    }
    void OnMouseMove(int, int, Point) override { seen.push_back("move"); }
    void OnKeyDown(int, int) override { seen.push_back("key"); }
    void OnKeyPress(int) override { seen.push_back("char"); }
  };
  Screen s;
  s.values["LeftMouse"] = "False";
  s.values["RightMouse"] = "False";
  s.values["Keydown"] = "False";
  s.values["MoveMouse"] = "True";
  s.Open();
  // Put a recorder behind the hook in place of the player's own procedure.
  Recorder r;
  FlashModel::State().previousProc = [&r](NativeHandle, std::uint32_t m, std::uintptr_t w,
                                          std::intptr_t l) {
    switch (m) {
      case kWmLButtonDown:
        r.OnMouseDown(MouseButton::kLeft, 0, {});
        break;
      case kWmLButtonUp:
        r.OnMouseUp(MouseButton::kLeft, 0, {});
        break;
      case kWmRButtonDown:
        r.OnMouseDown(MouseButton::kRight, 0, {});
        break;
      case kWmRButtonUp:
        r.OnMouseUp(MouseButton::kRight, 0, {});
        break;
      case kWmMouseMove:
        r.OnMouseMove(0, 0, {});
        break;
      case kWmKeyDown:
        r.OnKeyDown(static_cast<int>(w), 0);
        break;
      case kWmChar:
        r.OnKeyPress(static_cast<int>(w));
        break;
      default:
        break;
    }
    return l == 0 ? 7 : 0;
  };
  auto& player = s.Player();
  for (std::uint32_t m : {kWmLButtonUp, kWmRButtonDown, kWmKeyDown, kWmMouseMove}) {
    EXPECT_EQ(player.Send(m, 0, 0), 0) << m;
  }
  EXPECT_TRUE(r.seen.empty());
  EXPECT_EQ(player.Send(kWmLButtonDown, 0, 0), 7);
  player.Send(kWmRButtonUp);
  player.Send(kWmKeyUp);
  player.Send(kWmChar, 'a');
  EXPECT_EQ(r.seen, (std::vector<std::string>{"down1", "up2", "char"}));
  EXPECT_TRUE(s.form->Loaded());
}

TEST(FrmScreen, InputOverTheMovieEndsTheShowAsTheSettingsSay) {
  struct Case {
    const char* name;
    const char* value;
    std::uint32_t message;
    bool ends;
  };
  const Case cases[] = {
      {"LeftMouse", "False", kWmLButtonUp, false},    {"LeftMouse", "false", kWmLButtonUp, true},
      {"LeftMouse", "True", kWmLButtonDown, false},  // the press alone does nothing
      {"RightMouse", "False", kWmRButtonDown, false}, {"RightMouse", "", kWmRButtonDown, true},
      {"RightMouse", "True", kWmRButtonUp, false},    {"Keydown", "False", kWmKeyDown, false},
      {"Keydown", "ERROR", kWmKeyDown, true},         {"MoveMouse", "True", kWmMouseMove, false},
      {"MoveMouse", "False", kWmMouseMove, true},
  };
  for (const auto& c : cases) {
    Screen s;
    s.values[c.name] = c.value;
    s.Open();
    s.p.cursor.position = {210, 100};
    s.Player().Send(c.message);
    EXPECT_EQ(!s.form->Loaded(), c.ends) << c.name << "=" << c.value << " " << c.message;
    if (c.ends) {
      EXPECT_EQ(s.p.cursor.count, 0) << c.name;  // hidden at load, shown again at the end
      EXPECT_TRUE(s.p.loop.quit);
    }
  }
}

TEST(FrmScreen, PointerMovesOfMoreThanTwoPixelsInAnyDirectionEnd) {
  struct Case {
    int dx, dy;
    bool ends;
  };
  for (const Case c : {Case{2, 2, false}, Case{-2, -2, false}, Case{3, 0, true}, Case{0, 3, true},
                       Case{-3, 0, true}, Case{0, -9, true}}) {
    Screen s;
    s.Open();
    s.p.cursor.position = {200 + c.dx, 100 + c.dy};
    s.Player().Send(kWmMouseMove);
    EXPECT_EQ(!s.form->Loaded(), c.ends) << c.dx << "," << c.dy;
  }
}

TEST(FrmScreen, SetMovieConfiguresThePlayerFromTheSettings) {
  struct Case {
    const char* scale;
    int mode;
  };
  for (const Case c :
       {Case{"0", 0}, Case{"1", 0}, Case{"2", 2}, Case{"3", 3}, Case{"", 0}, Case{"x", 0}}) {
    Screen s;
    s.values["ScaleModes"] = c.scale;
    auto& f = s.Open();
    EXPECT_EQ(f.Flash().ScaleMode(), c.mode) << c.scale;
    EXPECT_EQ(f.Flash().BackgroundColor(), 255);
    EXPECT_EQ(f.Flash().Quality2(), "High");
    EXPECT_EQ(f.Flash().WMode(), "Window");
    EXPECT_EQ(f.Flash().Player().Movie(), "SYS" + std::string(1, kPathSep) + "Movie.swf");
    EXPECT_TRUE(f.Flash().Player().Playing());
  }
  for (const auto& [show, count] :
       std::vector<std::pair<std::string, int>>{{"True", 1}, {"T", 1}, {"true", -1}, {"", -1}}) {
    Screen s;
    s.values["ShowCursor"] = show;
    s.Open();
    EXPECT_EQ(s.p.cursor.count, count) << show;
  }
  // The background colour: absent is 0; a system colour is resolved (the headless palette gives
  // system colour i the grey i * 8); a text that is not a number sets none and the movie plays
  // all the same, the pointer hidden as the settings say.
  struct Back {
    const char* text;  // nullptr: absent
    std::int32_t color;
  };
  for (const Back c : {Back{nullptr, 0}, Back{"65280", 65280}, Back{"-2147483643", 0x282828},
                       Back{"-2147483624", 0xC0C0C0}, Back{"-2147483623", -2147483623},
                       Back{"-1", -1}, Back{"ERROR", -1}, Back{"12ab", -1}}) {
    Screen s;
    if (c.text == nullptr) {
      s.values.erase("BackColor");
    } else {
      s.values["BackColor"] = c.text;
    }
    auto& f = s.Open();
    const char* label = c.text ? c.text : "(absent)";
    EXPECT_EQ(f.Flash().BackgroundColor(), c.color) << label;
    EXPECT_TRUE(f.Flash().Player().Playing()) << label;
    EXPECT_EQ(f.Flash().Quality2(), "High") << label;
    EXPECT_EQ(s.p.cursor.count, -1) << label;
  }
}

TEST(FrmScreen, TheMovieIsToldThePrimaryMonitorsResolutionInTheDesktopsPixels) {
  struct Case {
    std::vector<Rect> monitors;
    int twips;
    Size expected;
  };
  for (const Case& c : {Case{{{0, 0, 1920, 1080}, {1920, 0, 1280, 1024}}, 15, {1920, 1080}},
                        Case{{{0, 0, 1920, 1080}, {-1280, 0, 1280, 1024}}, 12, {1536, 864}},
                        Case{{{0, 0, 3840, 2160}, {3840, 0, 800, 600}}, 8, {2048, 1152}}}) {
    Screen s;
    s.p.monitors = c.monitors;
    s.p.twipsPerPixel = c.twips;
    auto& f = s.Open();
    EXPECT_EQ(f.Flash().Player().ScreenResolution(), c.expected) << c.twips;
  }
}

TEST(FrmScreen, EveryMonitorShowsTheMovieAndInputOnAnyEndsIt) {
  for (const bool key : {true, false}) {
    Screen s;
    s.p.monitors = {{0, 0, 64, 48}, {64, 0, 32, 24}};
    auto& f = s.Open();
    HeadlessWindow* other = nullptr;
    for (HeadlessWindow* w : s.p.windows) {
      if (w->covered == Rect{64, 0, 32, 24}) other = w;
    }
    ASSERT_NE(other, nullptr);
    // The player's frame (the background colour: no movie file), at half size.
    const Pixel shown = s.Player().screen.At(32, 24);
    EXPECT_EQ(shown, ColorToPixel(255));
    EXPECT_EQ(other->screen.At(16, 12), shown);
    EXPECT_EQ(other->screen.At(0, 0), shown);
    if (key) {
      other->events.OnKeyDown(65, 0);
    } else {
      other->events.OnMouseDown(MouseButton::kRight, 0, {1, 1});
    }
    EXPECT_FALSE(f.Loaded()) << key;
  }
}

TEST(FrmScreen, EscOnTheWindowEndsWhateverTheSettings) {
  Screen s;
  s.values["Keydown"] = "False";
  auto& f = s.Open();
  s.p.Find(f.GetWindow()->Handle())->events.OnKeyPress('a');
  EXPECT_TRUE(f.Loaded());
  s.p.Find(f.GetWindow()->Handle())->events.OnKeyPress(27);
  EXPECT_FALSE(f.Loaded());
}

TEST(FrmScreen, ThePlayerCoversTheWindowAndShowsTheMovie) {
  const std::string sample = std::string(DBX_SWF_SAMPLES) + "/visual/layers/test.swf";
  ASSERT_TRUE(std::filesystem::exists(sample)) << "no samples at " << sample;
  Screen s;
  s.p.files.systemDir = std::filesystem::path(sample).parent_path().string();
  s.values["BackColor"] = "65280";  // green around the movie
  auto& f = s.Open();
  ASSERT_NE(f.Flash().ChildWindow(), nullptr);
  // The movie is at test.swf; this screen's saver is "Movie": load it by hand as SetMovie would.
  f.Flash().SetMovie(sample);
  f.Flash().Play();
  auto& player = s.Player();
  EXPECT_EQ(player.ClientSize(), (Size{64, 48}));
  EXPECT_GT(player.presents, 0);
  // The movie's own pixels differ from the background somewhere.
  int movie = 0;
  for (int y = 0; y < 48; ++y) {
    for (int x = 0; x < 64; ++x) movie += player.screen.At(x, y) != 0x00FF00u;
  }
  EXPECT_GT(movie, 64 * 48 / 4);
}

TEST(FrmScreen, PreviewEmbedsTheMovieScreenAndInputOverItEnds) {
  HeadlessPlatform p;
  p.files.systemDir = "SYS";
  p.process.programFileName = "Movie.scr";
  p.files.files["SYS" + std::string(1, kPathSep) + "Movie.scr"] = "";
  p.files.files[SeedFilePath(p)] = "[DM-NOVAPOST]\nImageOrSWF=False\nSaverBgcolor=0\n";
  p.process.commandLine = "/p 4242";
  p.process.foreignWindows[4242] = {152, 112};
  p.cursor.position = {10, 10};
  struct Forms : FormFactory {
    std::unique_ptr<Form> CreateScreen(Platform& pl, const std::string& n, StartMode) override {
      return std::make_unique<frmScreen>(pl, n);
    }
    std::unique_ptr<Form> CreateImageScr(Platform&, const std::string&) override { return {}; }
    std::unique_ptr<Form> CreateConfig(Platform&, const std::string&) override { return {}; }
  } forms;
  StartOutcome r = Main(p, forms);
  ASSERT_NE(r.form, nullptr);
  auto* w = p.Find(r.form->GetWindow()->Handle());
  EXPECT_EQ(w->parent, 4242u);
  EXPECT_EQ(w->Caption(), "Preview");
  auto* player =
      static_cast<HeadlessWindow*>(static_cast<frmScreen*>(r.form.get())->Flash().ChildWindow());
  EXPECT_EQ(player->ClientSize(), (Size{152, 112}));
  p.cursor.position = {13, 10};
  player->Send(kWmMouseMove);
  EXPECT_FALSE(r.form->Loaded());
}

}  // namespace
}  // namespace dbx
