#include "swf/flash_player.h"

#include <algorithm>
#include <cctype>
#include <cmath>
#include <fstream>
#include <iterator>

#include "swf/audio/mixer.h"
#include "swf/audio/movie_sound.h"
#include "swf/display/stage.h"
#include "swf/format/movie.h"
#include "swf/render/renderer.h"
#include "swf/text/faces.h"

#if __has_include("swf/avm1/runtime.h")
#include "swf/avm1/runtime.h"
#define DBX_SWF_HAVE_RUNTIME 1
#else
#define DBX_SWF_HAVE_RUNTIME 0
#endif

namespace dbx {

namespace {

// Movie files larger than this are not read (the decompressed body has its own bound).
constexpr std::streamoff kMaxFileBytes = 256 << 20;

bool EqualsNoCase(std::string_view a, std::string_view b) {
  return a.size() == b.size() && std::equal(a.begin(), a.end(), b.begin(), [](char x, char y) {
           return std::tolower(static_cast<unsigned char>(x)) ==
                  std::tolower(static_cast<unsigned char>(y));
         });
}

swf::Stage::Quality QualityOf(std::string_view setting) {
  if (EqualsNoCase(setting, "low")) return swf::Stage::Quality::kLow;
  if (EqualsNoCase(setting, "medium")) return swf::Stage::Quality::kMedium;
  if (EqualsNoCase(setting, "best")) return swf::Stage::Quality::kBest;
  return swf::Stage::Quality::kHigh;
}

// The key code Key.isDown knows a mouse button by (0 left, 1 right, 2 middle).
int ButtonKey(int button) {
  return button == 0 ? 1 : button == 1 ? 2 : 4;
}

}  // namespace

FlashPlayer::FlashPlayer(ImageLoader* images)
    : images_(images),
      limits_(std::make_unique<swf::ParseLimits>()),
      mixer_(std::make_unique<swf::Mixer>()),
      scriptSound_(std::make_unique<ScriptSoundBridge>(*this)) {}

// The scripts' sounds go to the movie's sound while the player has one (its sound mode is not
// off); without it nothing plays, and lengths come from the sound characters as stored.
class FlashPlayer::ScriptSoundBridge : public swf::ScriptSound {
 public:
  explicit ScriptSoundBridge(FlashPlayer& player) : player_(player) {}

  std::uint32_t LoadFile(const std::string& path) override {
    return player_.sound_ ? player_.sound_->LoadFile(path) : 0;
  }
  std::uint32_t LoadBlocks(const swf::SoundFormat& format,
                           const std::vector<std::vector<std::uint8_t>>& blocks) override {
    return player_.sound_ ? player_.sound_->LoadBlocks(format, blocks) : 0;
  }
  std::uint32_t Handle(const swf::Movie& movie, std::uint16_t id) override {
    return player_.sound_ ? player_.sound_->HandleOf(movie, id) : id;
  }
  double DurationMs(std::uint32_t sound) override {
    if (player_.sound_) {
      const auto pcm = player_.sound_->DecodedHandle(sound);
      if (pcm && pcm->rate > 0) return 1000.0 * static_cast<double>(pcm->Frames()) / pcm->rate;
    }
    if (!player_.movie_ || sound > 0xFFFF) return -1;
    const auto it = player_.movie_->sounds.find(static_cast<std::uint16_t>(sound));
    if (it == player_.movie_->sounds.end() || !it->second || it->second->format.rate <= 0)
      return -1;
    return 1000.0 * it->second->sampleCount / it->second->format.rate;
  }
  int Start(std::uint32_t sound, double offsetMs, int loops,
            const swf::SoundLevels& levels) override {
    return player_.sound_ ? player_.sound_->StartHandle(sound, offsetMs, loops, Transform(levels))
                          : 0;
  }
  void Stop(int voice) override { player_.mixer_->StopVoice(voice); }
  void StopAll() override {
    player_.mixer_->StopAll();
    if (player_.sound_) player_.sound_->StopStream();
  }
  bool Playing(int voice) const override { return player_.mixer_->VoicePlaying(voice); }
  double PositionMs(int voice) const override { return player_.mixer_->VoicePositionMs(voice); }
  void SetLevels(int voice, const swf::SoundLevels& levels) override {
    player_.mixer_->SetVoiceTransform(voice, Transform(levels));
  }
  void SetMasterLevels(const swf::SoundLevels& levels) override {
    player_.mixer_->SetMasterTransform(Transform(levels));
  }

 private:
  static swf::ChannelTransform Transform(const swf::SoundLevels& l) {
    const double v = std::max(0.0, l.volume) / 100.0;
    auto part = [v](double p) { return static_cast<float>(v * p / 100.0); };
    return swf::ChannelTransform{part(l.ll), part(l.lr), part(l.rl), part(l.rr)};
  }
  FlashPlayer& player_;
};

void FlashPlayer::SetParseLimits(const swf::ParseLimits& limits) {
  *limits_ = limits;
}
FlashPlayer::~FlashPlayer() {
  if (stage_) stage_->SetScripts(nullptr);
  scripts_.reset();
}

void FlashPlayer::StepStage() {
  stage_->Step(movieTimeMs_);
  movieTimeMs_ += FrameIntervalMs();
}

bool FlashPlayer::StepFrame() {
  if (!stage_) return false;
  StepStage();
  dirty_ = true;
  return true;
}

void FlashPlayer::FinishFrameInterval() {
  if (stage_) stage_->PassTime(movieTimeMs_);
}

bool FlashPlayer::ToMovie(int x, int y, double& tx, double& ty) const {
  if (!stage_) return false;
  const auto inv = ViewMatrix(viewport_).Inverse();
  if (!inv) return false;
  // The pointer stands at the pixel's corner: a movie shown at its own size sees whole pixels.
  const double px = x, py = y;
  tx = inv->a * px + inv->c * py + inv->tx;
  ty = inv->b * px + inv->d * py + inv->ty;
  return true;
}

void FlashPlayer::MouseMove(int x, int y) {
  double tx = 0, ty = 0;
  if (!ToMovie(x, y, tx, ty)) return;
  stage_->MouseMove(tx, ty);
  dirty_ = true;
}

void FlashPlayer::MouseDown(int button, int x, int y) {
  if (stage_) stage_->ButtonHeld(ButtonKey(button), true);
  if (button == 1 && stage_) stage_->RightButton();
  if (button != 0) return;
  MouseMove(x, y);
  if (!stage_) return;
  stage_->MouseDown();
  dirty_ = true;
}

void FlashPlayer::MouseUp(int button, int x, int y) {
  if (stage_) stage_->ButtonHeld(ButtonKey(button), false);
  if (button == 1 && stage_) stage_->RightButton();
  if (button != 0) return;
  MouseMove(x, y);
  if (!stage_) return;
  stage_->MouseUp();
  dirty_ = true;
}

void FlashPlayer::KeyDown(int keyCode, int charCode, bool typesLater) {
  if (!stage_) return;
  stage_->KeyDown(keyCode, charCode, typesLater);
  dirty_ = true;
}

void FlashPlayer::TypeCharacter(char32_t ch) {
  if (!stage_) return;
  stage_->TypeCharacter(ch);
  dirty_ = true;
}

void FlashPlayer::PasteText(std::u32string_view chars) {
  if (!stage_) return;
  stage_->PasteText(chars);
  dirty_ = true;
}

void FlashPlayer::MoveCaret(bool right) {
  if (!stage_) return;
  stage_->MoveCaret(right);
  dirty_ = true;
}

void FlashPlayer::KeyUp(int keyCode, int charCode) {
  if (!stage_) return;
  stage_->KeyUp(keyCode, charCode);
  dirty_ = true;
}

void FlashPlayer::SetMovie(std::string_view path) {
  std::vector<std::uint8_t> bytes;
  std::ifstream in{std::string(path), std::ios::binary};
  if (in) {
    in.seekg(0, std::ios::end);
    const std::streamoff size = in.tellg();
    in.seekg(0, std::ios::beg);
    if (size > 0 && size <= kMaxFileBytes) {
      bytes.resize(static_cast<std::size_t>(size));
      in.read(reinterpret_cast<char*>(bytes.data()), size);
      if (!in) bytes.clear();
    }
  }
  LoadMovieBytes(bytes.data(), bytes.size(), path);
}

void FlashPlayer::LoadMovieBytes(const std::uint8_t* data, std::size_t size,
                                 std::string_view name) {
  moviePath_ = std::string(name);
  sound_.reset();
  renderer_.reset();
  // The runtime refers to the stage and the stage to the runtime: both go together.
  if (stage_) stage_->SetScripts(nullptr);
  scripts_.reset();
  stage_.reset();
  movie_.reset();
  movieTimeMs_ = 0;
  if (data && size > 0) {
    auto parsed = swf::ParseMovie(data, size, images_, *limits_);
    if (parsed) movie_ = std::make_unique<swf::Movie>(std::move(*parsed));
  }
  if (movie_) {
    stage_ = std::make_unique<swf::Stage>(*movie_);
    stage_->SetQuality(QualityOf(quality_));
    stage_->fonts().SetDeviceFonts(fontSource_);
#if DBX_SWF_HAVE_RUNTIME
    if (scriptsEnabled_) {
      const swf::ScriptHost host{
          *movie_,   *stage_,   trace_,     moviePath_, scriptSound_.get(), logNavigation_,
          screen_.w, screen_.h, fixedDate_, images_,    *limits_,           socketOpener_};
      scripts_ = swf::avm1::CreateRuntime(host);
      stage_->SetScripts(scripts_.get());
    }
#endif
    renderer_ = std::make_unique<swf::Renderer>(*movie_);
    renderer_->SetFonts(&stage_->fonts());
    StartSound();
    StepStage();  // the first frame shows before Play
  }
  started_ = false;
  dirty_ = true;
}

void FlashPlayer::SetFontSource(FontSource* fonts) {
  fontSource_ = fonts;
  if (stage_) stage_->fonts().SetDeviceFonts(fonts);  // fields lay out again with the new faces
  if (renderer_ && stage_) renderer_->SetFonts(&stage_->fonts());
  dirty_ = true;
}

void FlashPlayer::SetSoundMode(SoundMode mode) {
  soundMode_ = mode;
  StartSound();
}

void FlashPlayer::StartSound() {
  sound_.reset();
  if (!stage_ || soundMode_ == SoundMode::kOff) {
    if (stage_) {
      stage_->SetFrameListener({});
      stage_->SetButtonListener({});
    }
    return;
  }
  swf::StreamTiming timing;
  if (soundMode_ == SoundMode::kDevice) {
    // A device pulls in pieces of tens of milliseconds at moments of its own: the stream keeps
    // about a frame and a half in hand, and never lags the timeline by more than half a second.
    const double interval = FrameIntervalMs();
    timing.prerollFrames = static_cast<std::size_t>(swf::Mixer::kRate * (interval * 1.5) / 1000);
    timing.maxQueuedFrames = timing.prerollFrames + swf::Mixer::kRate / 2;
  }
  sound_ = std::make_unique<swf::MovieSound>(*movie_, *mixer_, mp3_, timing);
  stage_->SetFrameListener(
      [this](const swf::Movie& movie, const swf::Timeline& timeline, int frame, bool root,
             bool jumped) { sound_->EnterFrame(timeline, frame, root, jumped, &movie); });
  stage_->SetButtonListener([this](const swf::Movie& movie, std::uint16_t button, int transition) {
    sound_->ButtonSound(button, transition, &movie);
  });
}

void FlashPlayer::MixSound(std::int16_t* stereo, std::size_t frames) {
  mixer_->Mix(stereo, frames);
}

void FlashPlayer::Play() {
  if (!playing_) started_ = false;
  playing_ = true;
  dirty_ = true;
}

void FlashPlayer::Stop() {
  if (sound_) sound_->StopStream();
  playing_ = false;
  started_ = false;
}

void FlashPlayer::SetScaleMode(int mode) {
  if (mode < 0 || mode > 3) return;
  scaleMode_ = static_cast<FlashScaleMode>(mode);
  dirty_ = true;
}

void FlashPlayer::SetBackgroundColor(std::int32_t color) {
  backgroundColor_ = color;
  dirty_ = true;
}

void FlashPlayer::SetQuality2(std::string_view quality) {
  quality_ = quality;
  if (stage_) stage_->SetQuality(QualityOf(quality_));
  dirty_ = true;
}

int FlashPlayer::SamplesPerPixel() const {
  // The movie's scripts may have changed the quality since the setting was made.
  switch (stage_ ? stage_->quality() : QualityOf(quality_)) {
    case swf::Stage::Quality::kLow:
      return 1;
    case swf::Stage::Quality::kMedium:
      return 2;
    default:
      return 16;
  }
}

double FlashPlayer::FrameIntervalMs() const {
  double fps = movie_ ? movie_->frameRate : 12.0;
  if (!(fps > 0)) fps = 12.0;  // a zero rate would stop the clock
  fps = std::clamp(fps, 0.1, 120.0);
  return 1000.0 / fps;
}

std::int64_t FlashPlayer::NextFrameDueMs() const {
  return static_cast<std::int64_t>(nextDue_);
}

int FlashPlayer::CurrentFrame() const {
  return stage_ ? stage_->frame() : -1;
}

int FlashPlayer::MovieWidth() const {
  if (!movie_) return 0;
  return static_cast<int>(
      std::lround((static_cast<double>(movie_->frame.xmax) - movie_->frame.xmin) / 20.0));
}

int FlashPlayer::MovieHeight() const {
  if (!movie_) return 0;
  return static_cast<int>(
      std::lround((static_cast<double>(movie_->frame.ymax) - movie_->frame.ymin) / 20.0));
}

int FlashPlayer::FrameCount() const {
  return movie_ ? static_cast<int>(movie_->timeline.frames.size()) : 0;
}

bool FlashPlayer::Advance(std::int64_t nowMs) {
  bool changed = dirty_;
  dirty_ = false;
  if (!playing_ || !stage_) return changed;
  const double now = static_cast<double>(nowMs);
  const double interval = FrameIntervalMs();
  if (!started_) {
    started_ = true;
    nextDue_ = now + interval;
    return true;
  }
  if (now < nextDue_) return changed;
  if (now - nextDue_ > 1000.0) {
    // The host stalled (suspend, debugger): show the next frame and take the clock from now.
    StepStage();
    nextDue_ = now + interval;
    return true;
  }
  while (now >= nextDue_) {
    StepStage();
    nextDue_ += interval;
  }
  return true;
}

swf::Matrix FlashPlayer::ViewMatrix(Size viewport) const {
  swf::Matrix m;
  m.a = m.d = 1.0 / 20.0;
  if (!movie_) return m;
  const swf::TwipsRect& r = movie_->frame;
  // The stage measures whole pixels: a frame of 101.3 x 25.3 px is shown 1:1 in a 101 x 25 view.
  const double mw = MovieWidth(), mh = MovieHeight();
  double sx = 1, sy = 1;
  if (mw > 0 && mh > 0 && viewport.w > 0 && viewport.h > 0) {
    const double fx = viewport.w / mw, fy = viewport.h / mh;
    switch (scaleMode_) {
      case FlashScaleMode::kShowAll:
        sx = sy = std::min(fx, fy);
        break;
      case FlashScaleMode::kNoBorder:
        sx = sy = std::max(fx, fy);
        break;
      case FlashScaleMode::kExactFit:
        sx = fx;
        sy = fy;
        break;
      case FlashScaleMode::kNoScale:
        break;
    }
  }
  m.a = sx / 20.0;
  m.d = sy / 20.0;
  m.tx = (viewport.w - std::max(mw, 0.0) * sx) / 2.0 - r.xmin / 20.0 * sx;
  m.ty = (viewport.h - std::max(mh, 0.0) * sy) / 2.0 - r.ymin / 20.0 * sy;
  return m;
}

void FlashPlayer::RenderFrame(SurfaceView target) {
  if (!target.data() || target.width() <= 0 || target.height() <= 0) return;
  Size vp = viewport_.w > 0 && viewport_.h > 0 ? viewport_ : Size{target.width(), target.height()};
  vp.w = std::min(vp.w, target.width());
  vp.h = std::min(vp.h, target.height());
  Pixel bg = MakePixel(255, 255, 255);
  if (backgroundColor_ >= 0) {
    bg = ColorToPixel(backgroundColor_);
  } else if (movie_ && movie_->background) {
    bg = MakePixel(movie_->background->r, movie_->background->g, movie_->background->b);
  }
  for (int y = 0; y < vp.h; ++y) std::fill(target.Row(y), target.Row(y) + vp.w, bg);
  if (!stage_ || !renderer_) return;
  const SurfaceView view(target.data(), vp.w, vp.h, target.stride());
  renderer_->Render(*stage_, view, ViewMatrix(vp), swf::RenderOptions{SamplesPerPixel()});
}

}  // namespace dbx
