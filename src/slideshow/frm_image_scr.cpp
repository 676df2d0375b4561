#include "slideshow/frm_image_scr.h"

#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "core/trace.h"
#include "effects/numeric.h"
#include "settings/input_rules.h"
#include "settings/paths.h"
#include "settings/seeding.h"
#include "slideshow/slideshow_values.h"

namespace dbx {
namespace {

std::string TrimSpaces(std::string_view s) {
  const auto first = s.find_first_not_of(' ');
  if (first == std::string_view::npos) return {};
  return std::string(s.substr(first, s.find_last_not_of(' ') - first + 1));
}

// Enough for the outgoing and incoming pictures of this step and the next, and a background.
constexpr std::size_t kCachedPictures = 5;

}  // namespace

frmImageScr::frmImageScr(Platform& platform, std::string saverName, SlideshowOptions options)
    : platform_(platform),
      saverName_(std::move(saverName)),
      settings_(platform.Settings(), saverName_),
      cache_(platform.Images(), kCachedPictures, options.decoding) {
  random_.seed(options.seed != 0
                   ? options.seed
                   : static_cast<std::uint32_t>(
                         std::chrono::steady_clock::now().time_since_epoch().count()));
  for (PictureBox* p : {&picture1_, &picture2_, &picture3_}) {
    p->SetSystemColors(&platform_.Colors());
  }
  WindowOptions wo;
  wo.caption = "Form1";
  wo.border = false;
  wo.background = 0;  // the window itself is black
  window_ = ScreenWindows::Create(platform_, wo, *this);
  if (!window_) {
    // No display, or the system refused the window: a show nobody can see or end does not
    // start. Nothing is loaded, no timer or music runs, and the start ends here.
    unloaded_ = true;
    return;
  }
  for (PictureBox* p : {&picture1_, &picture2_, &picture3_}) {
    p->SetTwipsPerPixel(window_->TwipsPerPixelX(), window_->TwipsPerPixelY());
  }
  // Only the visible surface shows what is drawn on it.
  picture1_.SetRefreshCallback(
      [this](const PictureBox&, const Rect& changed) { Present(changed); });
  timer1_ = platform_.Loop().CreateTimer(0, [this] { Timer1_Timer(); });
  timer2_ = platform_.Loop().CreateTimer(1, [this] { Timer2_Timer(); });
  Form_Load();
}

frmImageScr::~frmImageScr() {
  platform_.Loop().DestroyTimer(timer1_);
  platform_.Loop().DestroyTimer(timer2_);
  if (window_) window_->Destroy();
}

void frmImageScr::Form_Load() {
  LoadSet();
  Trace("slideshow loaded");
  start_ = platform_.Pointer().Position();
  current_ = start_;
}

std::string frmImageScr::ContentFolder() const {
  return SystemDir(platform_) + kPathSep + std::string(kContentFolderName) + kPathSep + saverName_;
}

void frmImageScr::LoadSet() {
  SeedSettings(platform_, saverName_, KeyList::kSlideshow);
  // The window has no picture of its own at first, so there is nothing to clear before the
  // surfaces get their backgrounds.
  LoadBackgrounds();
  LoadCycleSettings();
  const std::string showCursor = Get("ShowCursor");
  platform_.Pointer().Show(!showCursor.empty() && showCursor.front() == 'T');
  effectList_ = SplitKeepEmpty(effects_text_, ' ');
  // The random generator that picks the transitions was seeded when the window was made; the
  // re-arm timer starts the cycle.
  platform_.Loop().SetTimer(timer2_, true, 1);
  if (!saverAudio_.empty()) {
    platform_.Sound().Play(saverAudio_,
                           restartMusic_ == "Loop" ? SoundRepeat::kLoop : SoundRepeat::kOnce);
  }
}

void frmImageScr::LoadBackgrounds() {
  bgSelect_ = Get("SaverBgSelect");
  const std::string kind = TrimSpaces(bgSelect_);
  if (kind == "1") {
    backColor_ = Get("BackColor");
    if (const auto color = ParseWholeNumber(backColor_)) {
      for (PictureBox* p : {&picture1_, &picture2_, &picture3_}) p->SetBackColor(*color);
    }
  } else if (kind == "2") {
    gradientUp_ = Get("SaverGradientUP");
    gradientDown_ = Get("SaverGradientDown");
    gradientAngle_ = Get("SaverGradientAngle");
    for (PictureBox* p : {&picture1_, &picture2_, &picture3_}) {
      GradientBgcolor(*p, gradientUp_, gradientDown_, gradientAngle_);
    }
  } else if (kind == "3") {
    imageBg_ = Get("SaverImagebg");
    if (auto picture = cache_.Get(imageBg_)) {
      for (PictureBox* p : {&picture1_, &picture2_, &picture3_}) p->SetPicture(picture);
    }
  }
}

void frmImageScr::LoadCycleSettings() {
  testSaver_ = Get("TestSaver");
  effects_text_ = Get("Effects");
  saverTime_ = Get("SaverTime");
  saverInterval_ = Get("SaverInterval");
  saverAudio_ = Get("SaverAudio");
  restartMusic_ = Get("Restartmusic");
  if (testSaver_ == "False") {
    // Installed: the pictures and the music come from the content folder.
    pictureFolder_ = ContentFolder();
    saverAudio_ = pictureFolder_ + kPathSep + FileTitle(saverAudio_);
    pictureList_ = SplitKeepEmpty(Get("SaverSort"), '*');
    // The window's own picture (entry 0) lies behind the surfaces, which cover the window
    // whole; it is never seen, so it is only decoded ahead for the first step.
  } else {
    // Trying the content out from the dialog: the pictures come from the folder it stored.
    pictureFolder_ = Get("SaverPath");
    pictureList_ = SplitKeepEmpty(Get("SaverSort"), '*');
  }
  // The first step's pictures are decoded once the first frame is on screen (Present), so that
  // the decoder does not hold up the start.
}

bool frmImageScr::GradientBgcolor(PictureBox& pic, const std::string& up, const std::string& down,
                                  const std::string& angle) {
  if (!painter_) {
    painter_ = std::make_unique<ClsGrandinet>(&platform_.Colors(), &platform_.Dialog());
  }
  const auto a = ParseWholeNumber(angle);
  if (!a) return false;
  painter_->SetAngle(static_cast<float>(*a));
  const auto c1 = ParseWholeNumber(up);
  if (!c1) return false;
  painter_->SetColor1(*c1);
  const auto c2 = ParseWholeNumber(down);
  if (!c2) return false;
  painter_->SetColor2(*c2);

  // The same gradient at the same size is painted once and copied afterwards.
  const GradientKey key{pic.PixelWidth(), pic.PixelHeight(), painter_->Color1(), painter_->Color2(),
                        painter_->Angle()};
  Surface& image = pic.ImageSurface();
  if (const auto it = gradients_.find(key); it != gradients_.end()) {
    if (!image.Empty()) {
      std::memcpy(image.data(), it->second.data(),
                  static_cast<std::size_t>(image.width()) * image.height() * sizeof(Pixel));
    }
    return true;
  }
  if (painter_->Draw(&pic)) {
    if (gradients_.size() >= 4) gradients_.clear();
    gradients_.emplace(key, image.Clone());
  }
  return true;
}

std::string frmImageScr::FileOf(int k) const {
  const std::string folder = testSaver_ == "True" ? pictureFolder_ : ContentFolder();
  return folder + kPathSep + pictureList_[static_cast<std::size_t>(k)];
}

bool frmImageScr::LoadPicture(int k) {
  if (k < 0 || static_cast<std::size_t>(k) >= pictureList_.size()) return false;
  auto picture = cache_.Get(FileOf(k));
  if (!picture) return false;  // LoadImages keeps the picture it held
  loadImages_ = std::move(picture);
  return true;
}

void frmImageScr::PrefetchStep(int next) {
  const int last = static_cast<int>(pictureList_.size()) - 1;
  if (next > last) return;
  if (next > last - 2) next = 0;
  for (int k : {next, next + 1}) {
    if (k <= last && !pictureList_[static_cast<std::size_t>(k)].empty()) cache_.Prefetch(FileOf(k));
  }
}

bool frmImageScr::MiddleImage(PictureBox& pic) {
  // A fresh background first. Unlike at load, the kind is compared exactly as stored: " 2" gave
  // the surfaces a gradient at load but gives no fresh background here.
  if (bgSelect_ == "1") {
    pic.Cls();
    const auto color = ParseWholeNumber(backColor_);
    if (!color) return false;
    pic.SetBackColor(*color);
  } else if (bgSelect_ == "2") {
    if (!GradientBgcolor(pic, gradientUp_, gradientDown_, gradientAngle_)) return false;
  } else if (bgSelect_ == "3") {
    const std::string path =
        testSaver_ == "True" ? imageBg_ : ContentFolder() + kPathSep + FileTitle(imageBg_);
    auto picture = cache_.Get(path);
    if (!picture) return false;
    pic.SetPicture(std::move(picture));
  }
  // Then the picture at its natural size, centred (the halves in twips, single precision).
  if (!loadImages_) return true;
  const float x =
      static_cast<float>(pic.WidthTwips()) / 2.0f -
      static_cast<float>(std::int64_t{loadImages_->width()} * pic.TwipsPerPixelX()) / 2.0f;
  const float y =
      static_cast<float>(pic.HeightTwips()) / 2.0f -
      static_cast<float>(std::int64_t{loadImages_->height()} * pic.TwipsPerPixelY()) / 2.0f;
  const Point at{static_cast<int>(RoundHalfEven(x / static_cast<float>(pic.TwipsPerPixelX()))),
                 static_cast<int>(RoundHalfEven(y / static_cast<float>(pic.TwipsPerPixelY())))};
  pic.PaintPicture(loadImages_->View(), at);
  return true;
}

void frmImageScr::EnableTimer1(std::int64_t periodMs) {
  timer1Enabled_ = true;
  timer1Period_ = periodMs;
  // A period of 0 never fires.
  platform_.Loop().SetTimer(timer1_, periodMs > 0, periodMs > 0 ? periodMs : 1);
}

void frmImageScr::DisableTimer1() {
  timer1Enabled_ = false;
  platform_.Loop().SetTimer(timer1_, false, timer1Period_ > 0 ? timer1Period_ : 1);
}

void frmImageScr::Timer2_Timer() {
  if (unloaded_) return;
  const std::int64_t period = IntervalMs(saverInterval_).value_or(0);
  // Re-arming a running step timer with its own period leaves its countdown alone.
  if (!timer1Enabled_ || period != timer1Period_) EnableTimer1(period);
  // Until a step disables the step timer again, further re-arm ticks would change nothing: the
  // re-arm timer rests meanwhile instead of waking the program every millisecond.
  platform_.Loop().SetTimer(timer2_, false, 1);
}

void frmImageScr::Timer1_Timer() {
  // Steps never nest: a tick that falls due during a step is dropped.
  if (unloaded_ || inStep_) return;
  const int last = static_cast<int>(pictureList_.size()) - 1;
  int i = nextIndex_;
  // Past the end of the list (fewer than three names, or none) every tick does nothing.
  if (i > last) return;
  inStep_ = true;
  Trace("step");
  struct StepGuard {
    bool& flag;
    ~StepGuard() { flag = false; }
  } guard{inStep_};

  // Input that ends the show is handled before the work starts.
  platform_.Loop().RunPending();
  if (unloaded_) return;
  // The last two names only ever serve as incoming pictures: from there the cycle starts over.
  if (i > last - 2) i = 0;
  ComposeStep(i);
  played_.push_back(PlayTransition());
  if (unloaded_) return;
  RefreshSurfaces();
  // The step timer rests until the re-arm timer starts it again with the interval as it is then.
  nextIndex_ = i + 1;
  DisableTimer1();
  platform_.Loop().SetTimer(timer2_, true, 1);
}

void frmImageScr::ComposeStep(int i) {
  // The outgoing picture on Picture1 (shown) and Picture3, the incoming one on Picture2. A
  // picture that fails to load leaves the one loaded before in its place.
  LoadPicture(i);
  MiddleImage(picture1_);
  LoadPicture(i + 1);
  MiddleImage(picture2_);
  LoadPicture(i);
  MiddleImage(picture3_);
  // The next step's pictures decode while this one plays.
  PrefetchStep(i + 1);
}

int frmImageScr::PlayTransition() {
  if (effectList_.empty()) return -1;
  std::uniform_real_distribution<double> uniform(0.0, 1.0);
  const auto slot =
      static_cast<std::size_t>(static_cast<double>(effectList_.size()) * uniform(random_));
  if (slot >= effectList_.size()) return -1;
  const auto effect = ParseSmallInteger(effectList_[slot]);
  if (!effect) return -1;

  FrameHooks hooks;
  EventLoop& loop = platform_.Loop();
  // With tracing on, the time between displayed frames is measured (the blinds' pauses are their
  // own).
  std::int64_t lastFrame = loop.NowMs(), worstFrame = 0, frames = 0;
  hooks.yield = [&loop, &lastFrame, &worstFrame, &frames] {
    loop.WaitFrame();
    const std::int64_t now = loop.NowMs();
    worstFrame = std::max(worstFrame, now - lastFrame);
    lastFrame = now;
    ++frames;
  };
  hooks.sleep = [&loop, &lastFrame, this](int ms) {
    const std::int64_t until = loop.NowMs() + ms;
    while (!unloaded_ && loop.NowMs() < until) loop.WaitFrame();
    lastFrame = loop.NowMs();
  };
  const EffectSurfaces surfaces{&picture1_, &picture2_, &picture3_};
  std::uniform_real_distribution<double> rnd(0.0, 1.0);
  Trace("transition start");
  const StartResult r = effects_.RunEffect(*effect, saverTime_, surfaces, hooks,
                                           [this, &rnd] { return rnd(random_); });
  const int played = r == StartResult::kStarted ? *effect : -1;
  if (TraceEnabled()) {
    char line[128];
    std::snprintf(line, sizeof line, "transition %d end: %lld frames, worst frame %lld ms", played,
                  static_cast<long long>(frames), static_cast<long long>(worstFrame));
    Trace(line);
  }
  return played;
}

void frmImageScr::RefreshSurfaces() {
  picture1_.Refresh();
  picture2_.Refresh();
  picture3_.Refresh();
}

void frmImageScr::Present(std::optional<Rect> changed) {
  if (!window_ || unloaded_) return;
  const SurfaceView v = picture1_.Image();
  if (v.width() == 0 || v.height() == 0) return;
  // A transition's frame sends what it changed; anything else, the whole picture.
  window_->Present(v, changed.value_or(Rect{0, 0, v.width(), v.height()}));
  if (!firstFramePresented_) {
    firstFramePresented_ = true;
    Trace("first frame");
    PrefetchStep(nextIndex_);
  }
}

void frmImageScr::Form_Resize() {
  Trace("resize");
  if (!window_ || unloaded_) return;
  const Size client = window_->ClientSize();
  for (PictureBox* p : {&picture1_, &picture2_, &picture3_}) p->SetPixelSize(client.w, client.h);
  if (TrimSpaces(bgSelect_) == "2") {
    gradientUp_ = Get("SaverGradientUP");
    gradientDown_ = Get("SaverGradientDown");
    gradientAngle_ = Get("SaverGradientAngle");
    for (PictureBox* p : {&picture1_, &picture2_, &picture3_}) {
      GradientBgcolor(*p, gradientUp_, gradientDown_, gradientAngle_);
    }
  }
  Present();
}

void frmImageScr::OnResize(Size) {
  Form_Resize();
}

void frmImageScr::OnKeyDown(int, int) {
  ImageWakeup(WakeInput::kKey);
}

void frmImageScr::OnMouseDown(MouseButton button, int, Point) {
  if (button == MouseButton::kLeft) ImageWakeup(WakeInput::kLeftButton);
  if (button == MouseButton::kRight) ImageWakeup(WakeInput::kRightButton);
}

void frmImageScr::OnMouseMove(int, int, Point) {
  ImageWakeup(WakeInput::kMove);
}

void frmImageScr::ImageWakeup(WakeInput input) {
  if (unloaded_) return;
  // A pointer move counts once it is more than one pixel away, in any direction.
  if (InputEndsShow(settings_, input, platform_.Pointer(), start_, 1, current_)) Form_Unload();
}

void frmImageScr::Form_Unload() {
  if (unloaded_) return;
  Trace("unload");
  unloaded_ = true;
  effects_.RequestStop();
  DisableTimer1();
  platform_.Loop().SetTimer(timer2_, false, 1);
  platform_.Pointer().Show(true);
  platform_.Sound().Stop();
  if (window_) window_->Destroy();
  platform_.Loop().Quit(0);
}

}  // namespace dbx
