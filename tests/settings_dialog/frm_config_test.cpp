#include "settings_dialog/frm_config.h"

#include <gtest/gtest.h>

#include <map>

#include "platform/headless/headless_platform.h"
#include "settings/paths.h"

namespace dbx {
namespace {

using C = ConfigControl;
const char* kOption = "Software\\DEvOrevi\\Saver\\Option";

// The dialog's window as a table of control states, starting from the design.
struct FakeUi final : ConfigDialogUi, CommonDialogBackend {
  explicit FakeUi(ConfigDialogEvents& e) : events(e) {
    for (const auto& spec : ConfigControls()) {
      auto& s = state[spec.id];
      s.text = spec.text;
    }
  }
  struct State {
    std::string text;
    bool visible = true, checked = false, underline = false;
  };
  void SetText(C c, std::string_view t) override { state[c].text = t; }
  std::string Text(C c) const override { return state.at(c).text; }
  void SetVisible(C c, bool v) override { state[c].visible = v; }
  bool Visible(C c) const override { return state.at(c).visible; }
  void SetChecked(C c, bool v) override {
    if (v && ControlOf(c).kind == ControlKind::kOption) {
      for (int i = 0; i < 5; ++i) state[OptionControl(i)].checked = false;
    }
    state[c].checked = v;
  }
  bool Checked(C c) const override { return state.at(c).checked; }
  void SetUnderline(C c, bool v) override { state[c].underline = v; }
  void RemoveIcon() override { iconRemoved = true; }
  void Show() override {
    shown = true;
    events.OnResize();
  }
  void Close() override { closed = true; }
  std::int32_t OwnerHandle() const override { return kNoOwner; }
  Size PreviewSize() const override { return {40, 30}; }
  void PresentPreview(const SurfaceView& f) override {
    ++presents;
    lastCorner = f.At(0, 0);
  }
  CommonDialogBackend& CommonDialogs() override { return *this; }
  int RunOpenDialog(OpenFileRequest& r) override {
    openRequests.push_back(r);
    if (chosenFile.empty()) return 0;
    r.fileBuffer.replace(0, chosenFile.size() + 1, chosenFile.c_str(), chosenFile.size() + 1);
    return 1;
  }
  int RunColorDialog(ColorRequest& r) override {
    colorRequests.push_back(r);
    if (chosenColor < 0) return 0;
    r.color = chosenColor;
    return 1;
  }
  std::int32_t SysColor(int) override { return 0; }

  ConfigDialogEvents& events;
  std::map<C, State> state;
  bool iconRemoved = false, shown = false, closed = false;
  int presents = 0;
  Pixel lastCorner = 0;
  std::string chosenFile;
  std::int32_t chosenColor = -1;
  std::vector<OpenFileRequest> openRequests;
  std::vector<ColorRequest> colorRequests;
};

struct Dialog {
  HeadlessPlatform p;
  FakeUi* ui = nullptr;
  std::unique_ptr<frmConfig> form;
  std::map<std::string, std::string> values = {
      {"Loaded", "True"},  {"ImageOrSWF", "False"},   {"BackColor", "255"},
      {"Quality", "Best"}, {"ShowCursor", "False"},   {"SaverDec", "A calm sea"},
      {"SaverVer", "1.2"}, {"SaverCopy", "(c) Tide"}, {"SaverURL", "tide.example"}};
  Dialog() { p.files.systemDir = "SYS"; }
  frmConfig& Open() {
    for (const auto& [k, v] : values) p.settings.doc.WriteText(kOption, k, v);
    form = std::make_unique<frmConfig>(
        p, "Saver", [this](Platform&, ConfigDialogEvents& e) -> std::unique_ptr<ConfigDialogUi> {
          auto made = std::make_unique<FakeUi>(e);
          ui = made.get();
          return made;
        });
    return *form;
  }
  std::string Text(C c) const { return ui->Text(c); }
  int SelectedOption() const {
    int selected = -1;
    for (int i = 0; i < 5; ++i) {
      if (ui->Checked(OptionControl(i))) {
        EXPECT_EQ(selected, -1) << "two options selected";
        selected = i;
      }
    }
    return selected;
  }
};

TEST(FrmConfig, MovieContentShowsTheTextsThePreviewAndTheQuality) {
  Dialog d;
  d.values["ShowCursor"] = "True";
  auto& f = d.Open();
  EXPECT_TRUE(f.Loaded());
  EXPECT_TRUE(d.ui->shown);
  EXPECT_TRUE(d.ui->iconRemoved);
  EXPECT_TRUE(d.ui->Visible(C::kFlash));
  EXPECT_FALSE(d.ui->Visible(C::kRirodIMG));
  EXPECT_EQ(d.Text(C::kDeccap), "A calm sea");
  EXPECT_EQ(d.Text(C::kVercap), "Version: 1.2");
  EXPECT_EQ(d.Text(C::kCopycap), "(c) Tide");
  EXPECT_EQ(d.Text(C::kWebsitecap), "Website: tide.example");
  EXPECT_TRUE(d.ui->Checked(C::kChkCursor));
  EXPECT_EQ(d.SelectedOption(), 4);
  EXPECT_EQ(f.Flash().Quality2(), "Best");
  EXPECT_EQ(f.Flash().BackgroundColor(), 255);
  EXPECT_EQ(f.Flash().Movie(), MoviePath(d.p, "Saver"));
  EXPECT_TRUE(f.Flash().Playing());
  EXPECT_GT(d.ui->presents, 0);
  // Colour value 255 is red; the missing movie shows only its background.
  EXPECT_EQ(d.ui->lastCorner, 0x00FF0000u);
}

TEST(FrmConfig, ABackColorThatIsNoNumberEndsSetMovieWithTheDesignTexts) {
  for (const char* back : {"ERROR", "12abc", "--1"}) {
    Dialog d;
    d.values["BackColor"] = back;
    d.values["ShowCursor"] = "True";
    auto& f = d.Open();
    EXPECT_TRUE(f.Loaded()) << back;
    EXPECT_EQ(d.Text(C::kDeccap), "Dec:") << back;
    EXPECT_EQ(d.Text(C::kVercap), "Version:");
    EXPECT_EQ(d.Text(C::kWebsitecap), "Label2");
    EXPECT_EQ(d.Text(C::kCopycap), "Copyright:");
    EXPECT_FALSE(d.ui->Checked(C::kChkCursor));
    EXPECT_EQ(d.SelectedOption(), -1);
    EXPECT_EQ(f.Flash().Movie(), "");
    EXPECT_EQ(f.Flash().Quality2(), "High") << "the design quality";
  }
  Dialog absent;
  absent.values.erase("BackColor");
  absent.Open();
  EXPECT_EQ(absent.form->Flash().BackgroundColor(), 0);
  EXPECT_EQ(absent.Text(C::kDeccap), "A calm sea");
}

TEST(FrmConfig, TheMovieBackgroundResolvesSystemColours) {
  // The headless palette gives system colour i the grey i * 8; other negative values are kept.
  for (auto [back, color] : {std::pair{"-2147483643", 0x282828}, std::pair{"-2147483648", 0},
                             std::pair{"-2147483623", -2147483623}, std::pair{"-1", -1}}) {
    Dialog d;
    d.values["BackColor"] = back;
    EXPECT_EQ(d.Open().Flash().BackgroundColor(), color) << back;
  }
}

TEST(FrmConfig, ShowCursorIsReadAsAYesNoValue) {
  struct Case {
    const char* value;
    bool checked;
    bool reachesTheOptions;
  };
  const Case cases[] = {{"True", true, true},    {"False", false, true}, {"", false, true},
                        {"0", false, true},      {"7", true, true},      {"-2.5", true, true},
                        {"maybe", false, false}, {"true", false, false}, {"T", false, false}};
  for (const auto& c : cases) {
    Dialog d;
    d.values["ShowCursor"] = c.value;
    d.Open();
    EXPECT_EQ(d.ui->Checked(C::kChkCursor), c.checked) << c.value;
    EXPECT_EQ(d.SelectedOption(), c.reachesTheOptions ? 4 : -1) << c.value;
    // The texts and the movie come before the conversion and are there either way.
    EXPECT_EQ(d.Text(C::kDeccap), "A calm sea") << c.value;
  }
}

TEST(FrmConfig, AQualityOptionIsSelectedOnlyOnAnExactCaption) {
  struct Case {
    const char* quality;
    int option;
  };
  const Case cases[] = {{"Low", 0},   {"AutoLow", 1}, {"AutoHigh", 2}, {"High", 3}, {"Best", 4},
                        {"high", -1}, {"BEST", -1},   {" Low", -1},    {"", -1},    {"Medium", -1}};
  for (const auto& c : cases) {
    Dialog d;
    d.values["Quality"] = c.quality;
    d.Open();
    EXPECT_EQ(d.SelectedOption(), c.option) << c.quality;
    // The preview gets the text as read either way.
    EXPECT_EQ(d.form->Flash().Quality2(), c.quality);
  }
}

TEST(FrmConfig, PictureContentShowsTheEmptyAreaAndTheTexts) {
  for (const char* kind : {"", "ERROR", "True", "false"}) {
    Dialog d;
    if (*kind) {
      d.values["ImageOrSWF"] = kind;
    } else {
      d.values.erase("ImageOrSWF");
    }
    d.values["BackColor"] = "ERROR";  // not read for pictures
    auto& f = d.Open();
    EXPECT_TRUE(d.ui->Visible(C::kRirodIMG)) << kind;
    EXPECT_FALSE(d.ui->Visible(C::kFlash)) << kind;
    EXPECT_EQ(d.Text(C::kDeccap), "A calm sea") << kind;
    EXPECT_EQ(d.Text(C::kWebsitecap), "Website: tide.example");
    EXPECT_EQ(f.Flash().Movie(), "");
    EXPECT_EQ(d.ui->presents, 0) << "nothing is drawn for pictures";
  }
}

TEST(FrmConfig, EscClosesTheDialogAndEndsTheLoopOtherKeysDoNot) {
  Dialog d;
  auto& f = d.Open();
  f.Form_KeyPress(13);
  f.Form_KeyPress('q');
  EXPECT_TRUE(f.Loaded());
  EXPECT_FALSE(d.p.loop.quit);
  d.ui->events.OnKeyPress(27);
  EXPECT_FALSE(f.Loaded());
  EXPECT_TRUE(d.ui->closed);
  EXPECT_TRUE(d.p.loop.quit);
  // Later events are ignored.
  d.ui->events.OnClick(C::kCmdChange);
  EXPECT_TRUE(d.ui->openRequests.empty());

  Dialog frame;
  frame.Open();
  frame.ui->events.OnCloseRequest();
  EXPECT_FALSE(frame.form->Loaded());
  EXPECT_TRUE(frame.p.loop.quit);
}

TEST(FrmConfig, TheWebAddressIsUnderlinedWhileThePointerIsOverIt) {
  Dialog d;
  d.Open();
  auto underlined = [&] { return d.ui->state[C::kWebsitecap].underline; };
  d.ui->events.OnMouseMove(C::kWebsitecap);
  EXPECT_TRUE(underlined());
  d.ui->events.OnMouseMove(C::kCopycap);
  EXPECT_TRUE(underlined()) << "another control leaves it on";
  d.ui->events.OnMouseMove(C::kCount);
  EXPECT_FALSE(underlined());
  d.ui->events.OnClick(C::kWebsitecap);
  EXPECT_TRUE(d.p.loop.quit == false && d.ui->openRequests.empty());
}

TEST(FrmConfig, ChangeSwfAsksForAMovieAndPlaysTheChoice) {
  Dialog d;
  auto& f = d.Open();
  d.ui->events.OnClick(C::kCmdChange);
  ASSERT_EQ(d.ui->openRequests.size(), 1u);
  const OpenFileRequest& r = d.ui->openRequests[0];
  using namespace std::string_literals;
  EXPECT_EQ(r.filter, "SWF movie\0*.swf\0\0"s);
  EXPECT_EQ(r.filterIndex, 1);
  EXPECT_EQ(r.flags, 0x1000u);
  EXPECT_EQ(r.title, "Choose a SWF");
  EXPECT_EQ(r.owner, 0);
  EXPECT_EQ(CutAtNull(r.fileBuffer), "");
  EXPECT_EQ(f.Flash().Movie(), MoviePath(d.p, "Saver")) << "cancel changes nothing";

  d.ui->chosenFile = "/m/other.swf";
  d.ui->events.OnClick(C::kCmdChange);
  EXPECT_EQ(f.Flash().Movie(), "/m/other.swf");
}

TEST(FrmConfig, BackGroundSetsThePreviewColourUnlessCancelled) {
  Dialog d;
  auto& f = d.Open();
  d.ui->events.OnClick(C::kCmdBack);
  ASSERT_EQ(d.ui->colorRequests.size(), 1u);
  EXPECT_EQ(d.ui->colorRequests[0].color, 0);
  EXPECT_EQ(d.ui->colorRequests[0].flags, 0x101u);
  EXPECT_EQ(f.Flash().BackgroundColor(), 255);
  d.ui->chosenColor = 0xFF0000;  // blue
  d.ui->events.OnClick(C::kCmdBack);
  EXPECT_EQ(f.Flash().BackgroundColor(), 0xFF0000);
  EXPECT_EQ(d.ui->lastCorner, 0x000000FFu);
}

TEST(FrmConfig, OptionsSetThePreviewQualityAndTheCheckBoxDoesNothing) {
  Dialog d;
  auto& f = d.Open();
  for (int i = 0; i < 5; ++i) {
    d.ui->events.OnClick(OptionControl(i));
    EXPECT_EQ(f.Flash().Quality2(), kQualityCaptions[static_cast<std::size_t>(i)]);
  }
  d.ui->events.OnClick(C::kChkCursor);
  d.ui->events.OnResize();
  EXPECT_EQ(f.Flash().Quality2(), "Best") << "the resize nudge puts the quality back";
  EXPECT_TRUE(f.Loaded());
}

// The first run through the dialog: the store ends with the entry's value plus exactly the
// dialog list's writes, and the seed file stays.
TEST(FrmConfig, FirstRunSeedsWithTheDialogKeyLists) {
  const std::string ini =
      "[DM-NOVAPOST]\nSaverBgcolor=65280\nSaverQuality=AutoHigh\nSaverDec=Waves\nSaverVer=2\n"
      "SaverCopy=(c) Sea\nSaverLogo=logo.bmp\nSaverURL=sea.example\nSaverPath=C:\\sea\n"
      "HideMouse=True\nLeftMouse=False\n";
  struct Case {
    const char* kind;
    std::map<std::string, std::string> option;
    std::map<std::string, std::string> file;
  };
  const Case cases[] = {
      {"False",
       {{"", ""},
        {"ImageOrSWF", "False"},
        {"Loaded", "True"},
        {"BackColor", "65280"},
        {"Quality", "AutoHigh"},
        {"SaverDec", "Waves"},
        {"SaverVer", "2"},
        {"SaverCopy", "(c) Sea"},
        {"SaverLogo", "logo.bmp"},
        {"SaverURL", "sea.example"}},
       {{"SaverPath", "C:\\sea"}}},
      {"True",
       {{"", ""},
        {"ImageOrSWF", "True"},
        {"Loaded", "True"},
        {"SaverDec", "Waves"},
        {"SaverVer", "2"},
        {"SaverCopy", "(c) Sea"},
        {"SaverLogo", "logo.bmp"},
        {"SaverURL", "sea.example"}},
       {}},
  };
  for (const auto& c : cases) {
    Dialog d;
    d.values = {{"Loaded", "False"}, {"ImageOrSWF", c.kind}};
    d.p.files.files[SeedFilePath(d.p)] = ini;
    d.Open();
    std::map<std::string, std::string> option, file;
    for (const auto& key : d.p.settings.doc.keys()) {
      auto& target = RegistryDocument::NormalizeKeyPath(key.path) ==
                             RegistryDocument::NormalizeKeyPath(kOption)
                         ? option
                         : file;
      for (const auto& v : key.values) {
        if (&target == &file && v.name.empty()) continue;  // the other keys' defaults
        target[v.name] = v.data;
      }
    }
    EXPECT_EQ(option, c.option) << c.kind;
    EXPECT_EQ(file, c.file) << c.kind;
    EXPECT_TRUE(d.p.files.files.count(SeedFilePath(d.p))) << "the seed file stays";
    EXPECT_EQ(d.Text(C::kDeccap), "Waves");
    EXPECT_FALSE(d.ui->Checked(C::kChkCursor)) << "the dialog lists do not copy HideMouse";
  }
}

TEST(FrmConfig, TheControlTableConvertsToThePixelLayout) {
  EXPECT_EQ(TwipsToPixels(0, 0, kConfigClientWidthTwips, kConfigClientHeightTwips, 15, 15),
            (Rect{0, 0, 388, 361}));
  EXPECT_EQ(TwipsToPixels(-120, 0, 6015, 3855, 15, 15), (Rect{-8, 0, 401, 257}));
  EXPECT_EQ(TwipsToPixels(4800, 3900, 585, 195, 12, 12), (Rect{400, 325, 49, 16}));
  // Every tab index from 0 to 17 is used once, and the table is in the enum's order.
  std::vector<int> tabs(kConfigControlCount, 0);
  int i = 0;
  for (const auto& spec : ConfigControls()) {
    EXPECT_EQ(static_cast<int>(spec.id), i++) << spec.name;
    ASSERT_GE(spec.tabIndex, 0);
    ASSERT_LT(spec.tabIndex, kConfigControlCount);
    ++tabs[static_cast<std::size_t>(spec.tabIndex)];
  }
  for (int t = 0; t < kConfigControlCount; ++t) EXPECT_EQ(tabs[static_cast<std::size_t>(t)], 1);
  for (int o = 0; o < 5; ++o) {
    EXPECT_EQ(ControlOf(OptionControl(o)).text, kQualityCaptions[static_cast<std::size_t>(o)]);
  }
}

}  // namespace
}  // namespace dbx
