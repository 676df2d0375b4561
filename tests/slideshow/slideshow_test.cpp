#include <gtest/gtest.h>

#include <functional>
#include <map>
#include <memory>

#include "platform/headless/headless_platform.h"
#include "settings/paths.h"
#include "slideshow/frm_image_scr.h"

namespace dbx {
namespace {

const std::string S(1, kPathSep);
const char* kSaver = "Show";
const char* kOption = "Software\\DEvOrevi\\Show\\Option";

constexpr Pixel kRed = 0xFF0000, kGreen = 0x00FF00, kBlue = 0x0000FF, kGrey = 0x808080;

// A slideshow on the headless platform: a 40 x 30 screen, pictures in the content folder, the
// settings already seeded.
struct Show {
  HeadlessPlatform p;
  std::unique_ptr<frmImageScr> form;
  std::map<std::string, std::string> values = {
      {"Loaded", "True"},      {"TestSaver", "False"},   {"SaverSort", "a.bmp*b.bmp*c.bmp*"},
      {"Effects", "0"},        {"SaverTime", "1000"},    {"SaverInterval", "1"},
      {"SaverBgSelect", "1"},  {"BackColor", "8421504"}, {"SaverAudio", ""},
      {"ShowCursor", "False"}, {"Restartmusic", "Loop"}};

  Show() {
    p.files.systemDir = "SYS";
    p.screenSize = {40, 30};
    AddPicture("a.bmp", 20, 10, kRed);
    AddPicture("b.bmp", 20, 10, kGreen);
    AddPicture("c.bmp", 20, 10, kBlue);
  }
  std::string Content(const std::string& name) {
    return "SYS" + S + "DEvOrevi" + S + kSaver + S + name;
  }
  void AddPicture(const std::string& name, int w, int h, Pixel color) {
    p.images.pictures[Content(name)] = Surface(w, h, color);
  }
  frmImageScr& Open() {
    for (const auto& [k, v] : values) p.settings.doc.WriteText(kOption, k, v);
    SlideshowOptions o;
    o.decoding = DecodeThread::kCaller;
    o.seed = 7;
    form = std::make_unique<frmImageScr>(p, kSaver, o);
    form->GetWindow()->Show();
    form->GetWindow()->SetState(WindowState::kMaximized);
    return *form;
  }
  HeadlessWindow& Win() { return *p.Find(form->GetWindow()->Handle()); }
  Pixel Centre() { return Win().screen.At(20, 15); }
  Pixel Corner() { return Win().screen.At(1, 1); }
  // Delivers `input` from inside the message run of the n-th frame from now.
  struct Countdown {
    FakeEventLoop* loop;
    std::shared_ptr<int> left;
    std::function<void()> input;
    void operator()() const {
      if (--*left <= 0) {
        input();
      } else {
        loop->pending.push_back(*this);
      }
    }
  };
  void InputAtFrame(int n, std::function<void()> input) {
    p.loop.pending.push_back(Countdown{&p.loop, std::make_shared<int>(n), std::move(input)});
  }
  // Runs the clock until the next step has finished.
  void NextStep() {
    const std::size_t before = form->PlayedEffects().size();
    for (int i = 0; i < 2000 && form->PlayedEffects().size() == before && form->Loaded(); ++i) {
      p.loop.AdvanceBy(10);
    }
  }
};

TEST(Slideshow, LoadSetReadsTheListsAndStartsTheTimers) {
  Show s;
  s.values["Effects"] = "3  5";
  auto& f = s.Open();
  EXPECT_EQ(f.PictureList(), (std::vector<std::string>{"a.bmp", "b.bmp", "c.bmp", ""}));
  EXPECT_EQ(f.EffectCount(), 3);
  EXPECT_EQ(f.PictureFolder(), "SYS" + S + "DEvOrevi" + S + "Show");
  EXPECT_EQ(s.p.cursor.count, -1);  // hidden
  EXPECT_FALSE(f.Timer1Enabled());
  s.p.loop.AdvanceBy(2);  // the first re-arm tick
  EXPECT_TRUE(f.Timer1Enabled());
  EXPECT_EQ(f.Timer1Period(), 1000);
  // The window shows the background first.
  EXPECT_EQ(s.Centre(), kGrey);
}

TEST(Slideshow, StepsChangePicturesInPairsAndWrap) {
  Show s;
  s.Open();
  const Pixel expected[] = {kGreen, kBlue, kGreen, kBlue, kGreen};  // (0,1) (1,2) (0,1) ...
  for (Pixel e : expected) {
    s.NextStep();
    EXPECT_EQ(s.Centre(), e);
    EXPECT_EQ(s.Corner(), kGrey);  // centred on the background
  }
  EXPECT_EQ(s.form->PlayedEffects(), (std::vector<int>(5, 0)));
}

TEST(Slideshow, WithoutAFinalStarTheThirdPictureIsNeverShown) {
  Show s;
  s.values["SaverSort"] = "a.bmp*b.bmp*c.bmp";
  s.Open();
  for (int i = 0; i < 3; ++i) {
    s.NextStep();
    EXPECT_EQ(s.Centre(), kGreen) << i;
  }
}

TEST(Slideshow, WithoutEffectsEachStepShowsItsOutgoingPicture) {
  Show s;
  s.values.erase("Effects");
  s.Open();
  const Pixel expected[] = {kRed, kGreen, kRed, kGreen};
  for (Pixel e : expected) {
    s.NextStep();
    EXPECT_EQ(s.Centre(), e);
  }
  EXPECT_EQ(s.form->PlayedEffects(), (std::vector<int>(4, -1)));
}

TEST(Slideshow, EffectsOutsideTheTableOrNotNumbersPlayNothing) {
  for (const char* effects : {"19", "x", "-1", " "}) {
    Show s;
    s.values["Effects"] = effects;
    s.Open();
    s.NextStep();
    EXPECT_EQ(s.form->PlayedEffects(), std::vector<int>{-1}) << effects;
    EXPECT_EQ(s.Centre(), kRed) << effects;
  }
}

TEST(Slideshow, OnePictureTransitionsToItself) {
  Show s;
  s.values["SaverSort"] = "a.bmp*";
  s.Open();
  s.NextStep();
  EXPECT_EQ(s.Centre(), kRed);
  EXPECT_EQ(s.form->PlayedEffects(), std::vector<int>{0});
}

TEST(Slideshow, AFailedLoadComposesThePreviousPicture) {
  Show s;
  s.values["SaverSort"] = "a.bmp*missing.jpg*c.bmp*";
  s.Open();
  s.NextStep();
  EXPECT_EQ(s.Centre(), kRed);  // incoming failed: LoadImages still held a.bmp
  s.NextStep();                 // (1, 2): outgoing fails, keeps a.bmp; incoming c.bmp
  EXPECT_EQ(s.Centre(), kBlue);
}

TEST(Slideshow, IntervalTextsGiveTheirPeriodsOrNoSteps) {
  struct Case {
    const char* interval;
    std::int64_t period;
  };
  for (const Case c : {Case{"5", 5000}, Case{"2.5", 2500}, Case{"86400", 86400000}, Case{"0", 0},
                       Case{"", 0}, Case{"abc", 0}}) {
    Show s;
    s.values["SaverInterval"] = c.interval;
    auto& f = s.Open();
    s.p.loop.AdvanceBy(2);
    EXPECT_EQ(f.Timer1Period(), c.period) << c.interval;
    s.p.loop.AdvanceBy(6000);
    const bool stepped = !f.PlayedEffects().empty();
    EXPECT_EQ(stepped, c.period > 0 && c.period <= 5000) << c.interval;
  }
}

TEST(Slideshow, ThePauseRunsFromTheEndOfOneStepToTheStartOfTheNext) {
  Show s;
  s.values["SaverInterval"] = "2";
  s.values["SaverTime"] = "1";  // a slow wipe: 40 frames of 16 ms
  s.Open();
  s.NextStep();
  const std::int64_t firstEnd = s.p.loop.now;
  EXPECT_GE(firstEnd, 2000 + 40 * 16);
  s.NextStep();
  EXPECT_GE(s.p.loop.now - firstEnd, 2000 + 40 * 16);
  EXPECT_LT(s.p.loop.now - firstEnd, 2000 + 41 * 16 + 30);
}

TEST(Slideshow, InputEndsTheShowAsTheSettingsSay) {
  struct Case {
    const char* name;
    const char* value;
    WakeInput input;
    bool ends;
  };
  using enum WakeInput;
  const Case cases[] = {
      {"LeftMouse", "False", kLeftButton, false},
      {"LeftMouse", "false", kLeftButton, true},
      {"LeftMouse", "ERROR", kLeftButton, true},
      {"RightMouse", "False", kRightButton, false},
      {"RightMouse", "", kRightButton, true},
      {"KeyDown", "False", kKey, false},
      {"Keydown", "True", kKey, true},
      {"MoveMouse", "True", kMove, false},
  };
  for (const auto& c : cases) {
    Show s;
    s.values[c.name] = c.value;
    s.p.cursor.position = {300, 300};
    s.Open();
    s.p.cursor.position = {310, 300};  // far enough for a move to count
    s.form->ImageWakeup(c.input);
    EXPECT_EQ(!s.form->Loaded(), c.ends)
        << c.name << "=" << c.value << " #" << static_cast<int>(c.input);
  }
}

TEST(Slideshow, PointerMovesOfMoreThanOnePixelInAnyDirectionEnd) {
  struct Case {
    int dx, dy;
    bool ends;
  };
  for (const Case c : {Case{1, 0, false}, Case{1, 1, false}, Case{-1, -1, false}, Case{2, 0, true},
                       Case{0, 2, true}, Case{-2, 0, true}, Case{0, -5, true}}) {
    Show s;
    s.p.cursor.position = {500, 400};
    s.Open();
    s.p.cursor.position = {500 + c.dx, 400 + c.dy};
    s.form->ImageWakeup(WakeInput::kMove);
    EXPECT_EQ(!s.form->Loaded(), c.ends) << c.dx << "," << c.dy;
  }
}

TEST(Slideshow, EndingGivesThePointerBackStopsMusicAndQuits) {
  Show s;
  s.values["SaverAudio"] = "D:\\work\\song.wav";
  auto& f = s.Open();
  EXPECT_EQ(s.p.sound.plays, 1);
  EXPECT_TRUE(s.p.sound.looping);
  s.Win().events.OnMouseDown(MouseButton::kMiddle, 0, {1, 1});  // a middle click never ends it
  EXPECT_TRUE(f.Loaded());
  s.Win().events.OnKeyDown(65, 0);
  EXPECT_FALSE(f.Loaded());
  EXPECT_EQ(s.p.cursor.count, 0);
  EXPECT_TRUE(s.p.sound.playing.empty());
  EXPECT_TRUE(s.p.loop.quit);
  EXPECT_TRUE(s.p.windows.empty());
}

TEST(Slideshow, WithoutAWindowNothingStartsAndNothingRuns) {
  Show s;
  s.values["SaverAudio"] = "D:\\work\\song.wav";
  s.p.refuseWindows = true;
  for (const auto& [k, v] : s.values) s.p.settings.doc.WriteText(kOption, k, v);
  SlideshowOptions o;
  o.decoding = DecodeThread::kCaller;
  frmImageScr form(s.p, kSaver, o);
  EXPECT_FALSE(form.Loaded());
  EXPECT_EQ(form.GetWindow(), nullptr);
  // Ten seconds later still no step, no picture, no music, and the pointer as it was.
  s.p.loop.AdvanceBy(10'000);
  EXPECT_TRUE(form.PlayedEffects().empty());
  EXPECT_TRUE(s.p.images.loads.empty());
  EXPECT_EQ(s.p.sound.plays, 0);
  EXPECT_EQ(s.p.cursor.count, 0);
  for (const auto& t : s.p.loop.timers) EXPECT_FALSE(t.alive && t.enabled);
}

TEST(Slideshow, EveryMonitorShowsTheShowAndInputOnAnyEndsIt) {
  for (int input = 0; input < 2; ++input) {
    Show s;
    s.p.monitors = {{0, 0, 40, 30}, {40, 0, 80, 60}};
    auto& f = s.Open();
    ASSERT_EQ(s.p.windows.size(), 2u);
    HeadlessWindow& other = *s.p.windows[1];
    EXPECT_EQ(other.covered, (Rect{40, 0, 80, 60}));
    s.NextStep();
    // The incoming 20 x 10 picture in the middle of 40 x 30, twice as large on the 80 x 60
    // monitor.
    EXPECT_EQ(s.Centre(), kGreen);
    EXPECT_EQ(other.screen.At(40, 30), kGreen);
    EXPECT_EQ(other.screen.At(40 - 19, 30), kGreen);
    EXPECT_EQ(other.screen.At(40 - 21, 30), kGrey);
    EXPECT_EQ(other.screen.At(2, 2), kGrey);
    if (input == 0) {
      other.events.OnKeyDown(65, 0);
    } else {
      other.events.OnMouseDown(MouseButton::kRight, 0, {3, 3});
    }
    EXPECT_FALSE(f.Loaded()) << input;
    EXPECT_TRUE(s.p.windows.empty());
    EXPECT_EQ(s.p.cursor.count, 0);
  }
}

TEST(Slideshow, AKeyInTheMiddleOfATransitionEndsItWithinAFrame) {
  Show s;
  s.values["SaverTime"] = "1";  // a 40-frame wipe
  auto& f = s.Open();
  s.p.loop.AdvanceBy(999);
  int presentsAtKey = -1;
  // Frame 1 is the step's own message run; the key comes ten frames into the transition.
  s.InputAtFrame(11, [&] {
    presentsAtKey = s.Win().presents;
    s.Win().events.OnKeyDown(32, 0);
  });
  s.p.loop.AdvanceBy(10);
  EXPECT_FALSE(f.Loaded());
  EXPECT_GT(presentsAtKey, 5);
  // No frame was drawn after the key: the window is gone and the transition stopped.
  EXPECT_FALSE(f.Effects().EffectRunning());
  EXPECT_FALSE(f.Effects().Active());
  EXPECT_LT(s.p.loop.now, 1000 + 12 * 16);
}

TEST(Slideshow, MusicPathsAndRepeat) {
  struct Case {
    const char* test;
    const char* audio;
    const char* restart;
    std::string played;
    bool loop;
  };
  const Case cases[] = {
      {"False", "D:\\work\\song.wav", "Loop", "SYS" + S + "DEvOrevi" + S + "Show" + S + "song.wav",
       true},
      {"False", "song.wav", "loop", "SYS" + S + "DEvOrevi" + S + "Show" + S + "song.wav", false},
      {"False", "", "Loop", "SYS" + S + "DEvOrevi" + S + "Show" + S, true},
      {"True", "/music/x.wav", "Loop", "/music/x.wav", true},
      {"True", "", "Loop", "", false},
  };
  for (const auto& c : cases) {
    Show s;
    s.values["TestSaver"] = c.test;
    s.values["SaverAudio"] = c.audio;
    s.values["Restartmusic"] = c.restart;
    s.Open();
    EXPECT_EQ(s.p.sound.playing, c.played) << c.audio;
    if (!c.played.empty()) {
      EXPECT_EQ(s.p.sound.looping, c.loop) << c.audio;
    }
  }
}

TEST(Slideshow, BackgroundKinds) {
  {  // A colour that is not a number leaves the surfaces white; steps abandon the composition.
    Show s;
    s.values["BackColor"] = "ERROR";
    s.Open();
    EXPECT_EQ(s.Centre(), 0xFFFFFFu);
  }
  {  // Kind 1 with a leading space: painted once, never cleared by the steps.
    Show s;
    s.values["SaverBgSelect"] = " 1";
    s.AddPicture("b.bmp", 40, 30, kGreen);  // covers the screen
    s.AddPicture("c.bmp", 4, 4, kBlue);
    s.Open();
    s.NextStep();
    s.NextStep();  // (1, 2): c is drawn over what b left
    EXPECT_EQ(s.Centre(), kBlue);
    EXPECT_EQ(s.Corner(), kGreen);
  }
  {  // Kind 3: the background picture from the content folder by its file name.
    Show s;
    s.values["SaverBgSelect"] = "3";
    s.values["SaverImagebg"] = "C:\\pics\\bg.bmp";
    s.p.images.pictures["C:\\pics\\bg.bmp"] = Surface(40, 30, 0x123456);
    s.AddPicture("bg.bmp", 40, 30, 0x654321);
    s.Open();
    EXPECT_EQ(s.Corner(), 0x123456u);  // LoadSet: the path as stored
    s.NextStep();
    EXPECT_EQ(s.Corner(), 0x654321u);  // steps: the content folder
  }
}

TEST(Slideshow, MissingContentAndABackgroundThatIsNotAPictureLeaveTheBackgrounds) {
  {  // The content folder does not exist: every load fails, the steps show the background.
    Show s;
    s.p.images.pictures.clear();
    s.Open();
    s.NextStep();
    s.NextStep();
    EXPECT_TRUE(s.form->Loaded());
    EXPECT_EQ(s.Centre(), kGrey);
  }
  {  // Kind 3 with a file that is not a picture: the surfaces stay white, the pictures still show.
    Show s;
    s.values["SaverBgSelect"] = "3";
    s.values["SaverImagebg"] = "notes.txt";
    s.p.files.files[s.Content("notes.txt")] = "not a picture";
    s.Open();
    EXPECT_EQ(s.Corner(), 0xFFFFFFu);
    s.NextStep();
    EXPECT_EQ(s.Corner(), 0xFFFFFFu);
    EXPECT_EQ(s.form->PlayedEffects().size(), 1u);
  }
}

TEST(Slideshow, GradientBackgroundsAreRepaintedOnResizeWithFreshSettings) {
  Show s;
  s.values["SaverBgSelect"] = " 2 ";
  s.values["SaverGradientUP"] = "255";
  s.values["SaverGradientDown"] = "16711680";
  s.values["SaverGradientAngle"] = "0";
  s.Open();
  const Pixel left = s.Win().screen.At(0, 15), right = s.Win().screen.At(39, 15);
  EXPECT_GT(PixelR(left), PixelB(left));
  EXPECT_GT(PixelB(right), PixelR(right));
  s.p.settings.doc.WriteText(kOption, "SaverGradientAngle", "180");
  s.p.screenSize = {50, 20};
  s.Win().SetState(WindowState::kMaximized);
  const Pixel left2 = s.Win().screen.At(0, 10);
  EXPECT_GT(PixelB(left2), PixelR(left2));  // turned round
  EXPECT_EQ(s.form->Picture(2).PixelWidth(), 50);
}

TEST(Slideshow, CachedGradientsMatchAFreshPaintAndCoverEverything) {
  for (const char* angle : {"0", "45", "90", "135", "200", "315", "-30"}) {
    Show s;
    s.values["SaverBgSelect"] = "2";
    s.values["SaverGradientUP"] = "65280";
    s.values["SaverGradientDown"] = "128";
    s.values["SaverGradientAngle"] = angle;
    s.Open();
    PictureBox& p1 = s.form->Picture(1);
    PictureBox& p3 = s.form->Picture(3);  // painted from the cache
    PictureBox fresh;
    fresh.SetPixelSize(40, 30);
    fresh.ImageSurface().Resize(40, 30, 0xABCDEF);  // a colour the gradient never paints
    ClsGrandinet painter;
    painter.SetAngle(static_cast<float>(std::atoi(angle)));
    painter.SetColor1(65280);
    painter.SetColor2(128);
    ASSERT_TRUE(painter.Draw(&fresh));
    for (int y = 0; y < 30; ++y) {
      for (int x = 0; x < 40; ++x) {
        ASSERT_NE(fresh.ImageSurface().At(x, y), 0xABCDEFu) << angle << " " << x << "," << y;
        ASSERT_EQ(p3.ImageSurface().At(x, y), fresh.ImageSurface().At(x, y)) << angle;
        ASSERT_EQ(p1.ImageSurface().At(x, y), fresh.ImageSurface().At(x, y)) << angle;
      }
    }
  }
}

TEST(Slideshow, EachFileIsDecodedOncePerStep) {
  Show s;
  auto& f = s.Open();
  s.NextStep();
  EXPECT_EQ(f.Cache().Decodes(), 2u);  // a and b, although a is composed twice
  s.NextStep();
  EXPECT_EQ(f.Cache().Decodes(), 3u);
}

TEST(Slideshow, BadListsAndValuesNeitherCrashNorHang) {
  {
    Show s;
    std::string many;
    for (int i = 0; i < 50000; ++i) many += "p" + std::to_string(i) + ".jpg*";
    s.values["SaverSort"] = many;
    s.Open();
    EXPECT_EQ(s.form->PictureList().size(), 50001u);
    s.NextStep();
    EXPECT_EQ(s.form->NextIndex(), 1);
  }
  for (const char* sort : {"", "*", "**"}) {
    Show s;
    s.values["SaverSort"] = sort;
    s.Open();
    s.p.loop.AdvanceBy(5000);
    EXPECT_TRUE(s.form->Loaded()) << sort;
    EXPECT_EQ(s.Centre(), kGrey) << sort;
  }
  for (const char* time : {"-5", "0"}) {
    Show s;
    s.values["SaverTime"] = time;
    auto& f = s.Open();
    // A transition that cannot progress runs until input stops it.
    s.InputAtFrame(50, [&] { f.ImageWakeup(WakeInput::kKey); });
    s.p.loop.AdvanceBy(1100);
    EXPECT_FALSE(f.Loaded()) << time;
    EXPECT_EQ(f.PlayedEffects(), std::vector<int>{0}) << time;
  }
  for (const char* time : {"abc", ""}) {  // not a number: no transition, the picture at once
    Show s;
    s.values["SaverTime"] = time;
    auto& f = s.Open();
    s.NextStep();
    EXPECT_EQ(f.PlayedEffects(), std::vector<int>{-1}) << time;
    EXPECT_EQ(s.Centre(), kRed) << time;
  }
}

TEST(Slideshow, FirstRunSeedsTheSlideshowList) {
  HeadlessPlatform p;
  p.files.systemDir = "SYS";
  p.files.files[SeedFilePath(p)] =
      "[DM-NOVAPOST]\nSaverSort=a.jpg*\nSaverEffects=1 2\nSaverBgSelect=1\nSaverBgColor=255\n";
  SlideshowOptions o;
  o.decoding = DecodeThread::kCaller;
  frmImageScr f(p, kSaver, o);
  EXPECT_EQ(p.settings.doc.ReadText(kOption, "Loaded"), "True");
  EXPECT_EQ(f.EffectList(), (std::vector<std::string>{"1", "2"}));
  EXPECT_EQ(f.Picture(2).BackColor(), 255);
}

}  // namespace
}  // namespace dbx
