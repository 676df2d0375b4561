// FlashPlayer: our own movie player, the object the movie screens host.
//
// It offers the members the screens set (Movie, Play, ScaleMode, BackgroundColor, WMode, Quality2),
// keeps the playing state of one movie, and draws frames into a surface that the hosting window
// presents. The window owns the pacing: it calls Advance with the current time whenever it wakes
// (at least once per FrameIntervalMs()), and when Advance reports a new frame it calls RenderFrame
// into its back buffer and presents it. The movie loops without end.
//
// A missing, unreadable or malformed movie shows the background colour only; bad content never
// makes a member throw, crash or stall.
//
//   FlashPlayer player(&platform.Images());
//   player.SetWMode("Window");
//   player.SetScaleMode(0);
//   player.SetBackgroundColor(0x000000);
//   player.SetQuality2("High");
//   player.SetMovie(path);
//   player.Play();
//   player.SetViewportSize(window.ClientSize());  // and again on every resize
//   // On each tick of the window's timer:
//   if (player.Advance(loop.NowMs())) {
//     player.RenderFrame(back.View());
//     window.Present(back.View(), {0, 0, back.width(), back.height()});
//   }
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "core/platform.h"
#include "core/surface.h"
#include "swf/display/scripts.h"

namespace dbx {

class ImageLoader;
class FontSource;

namespace swf {
struct Movie;
struct ParseLimits;
class Stage;
class Renderer;
struct Matrix;
namespace text {
class FontLibrary;
}
class Mixer;
class MovieSound;
class Scripts;
}  // namespace swf

// How the player's sound is taken: not at all (no sound is decoded or mixed); by a sound device,
// which pulls from its own thread at its own pace (the stream sound keeps a little sound in hand);
// or by a caller that mixes exactly the time it advances the timeline by (a tool writing a file).
enum class SoundMode { kOff, kDevice, kPulled };

// How the movie's stage is fitted to the viewport; always centred.
enum class FlashScaleMode : int {
  kShowAll = 0,   // whole stage visible, aspect kept, background around it
  kNoBorder = 1,  // viewport filled, aspect kept, stage cropped
  kExactFit = 2,  // stage stretched to the viewport
  kNoScale = 3,   // one movie pixel per viewport pixel
};

class FlashPlayer {
 public:
  // `images` decodes JPEG data found in movies; it may be null (those bitmaps are then left out)
  // and must outlive the player.
  explicit FlashPlayer(ImageLoader* images = nullptr);
  ~FlashPlayer();
  FlashPlayer(const FlashPlayer&) = delete;
  FlashPlayer& operator=(const FlashPlayer&) = delete;

  // Movie: the full path of the movie file. Setting it replaces the movie shown (the file is read
  // at once); the new movie waits for Play. A path that cannot be read or parsed leaves no movie.
  void SetMovie(std::string_view path);
  const std::string& Movie() const { return moviePath_; }
  // The same from bytes in memory (tests, tools); `name` is what Movie() reports.
  void LoadMovieBytes(const std::uint8_t* data, std::size_t size, std::string_view name = {});
  bool HasMovie() const { return movie_ != nullptr; }
  // The installed fonts that text in device fonts is drawn with (none: such text is not drawn).
  // The source must outlive the player.
  void SetFontSource(FontSource* fonts);
  // Bounds for the movies loaded from now on (decompressed size, bitmap sizes, shape sizes).
  void SetParseLimits(const swf::ParseLimits& limits);

  // Starts (or resumes) playing from the current frame; the first frame shows at once.
  void Play();
  void Stop();
  bool Playing() const { return playing_; }

  // ScaleMode 0..3 (FlashScaleMode); other values are ignored. Default 0, show all.
  void SetScaleMode(int mode);
  int ScaleMode() const { return static_cast<int>(scaleMode_); }

  // BackgroundColor: a colour value 0x00BBGGRR painted behind and around the movie. A negative
  // value (the default, -1) means the movie's own background colour, white when it has none.
  void SetBackgroundColor(std::int32_t color);
  std::int32_t BackgroundColor() const { return backgroundColor_; }

  // WMode is kept as text; this player always draws into its host's surface ("Window").
  void SetWMode(std::string_view mode) { wmode_ = mode; }
  const std::string& WMode() const { return wmode_; }

  // Quality2: any text is accepted and read back unchanged. "Low" (any case) draws without
  // anti-aliasing (one sample per pixel); "Medium" with 2 samples per pixel; everything else
  // ("High", "Best", "AutoHigh", ...) with 16.
  // The movie's scripts can change the quality it is drawn with; setting it again overrides them.
  void SetQuality2(std::string_view quality);
  const std::string& Quality2() const { return quality_; }
  int SamplesPerPixel() const;

  // Where the movie's trace() lines go (none: dropped). Set before SetMovie.
  void SetTraceSink(swf::TraceSink sink) { trace_ = std::move(sink); }
  // Whether a getURL that would open a page is written to the trace (off by default; no page is
  // ever opened). Set before SetMovie.
  void SetNavigationLog(bool log) { logNavigation_ = log; }
  // How the movie's XMLSocket connections open (by default they fail). Takes effect with the next
  // movie set.
  void SetSocketOpener(swf::SocketOpener opener) { socketOpener_ = std::move(opener); }
  // Scripts' Date sees this moment and zone instead of the system's (for repeatable runs).
  void SetFixedDate(std::optional<swf::FixedDate> date) { fixedDate_ = date; }
  // The screen's resolution the movie's scripts are told of, in the desktop's own pixels (its
  // device pixels divided by its scale factor; 1920 x 1080 until set). Set before SetMovie.
  void SetScreenResolution(Size size) {
    if (size.w > 0 && size.h > 0) screen_ = size;
  }
  Size ScreenResolution() const { return screen_; }
  // Whether movies run their scripts (on by default; off plays the timeline only).
  void SetScriptsEnabled(bool enabled) { scriptsEnabled_ = enabled; }
  bool HasScripts() const { return scripts_ != nullptr; }

  // Input for the movie, in viewport pixels (the host decides first whether input ends the show).
  // Button 0 is the left one; only it presses the movie's buttons.
  void MouseMove(int x, int y);
  void MouseDown(int button, int x, int y);
  void MouseUp(int button, int x, int y);
  // Key codes as the platform gives them (virtual-key numbering); `charCode` the character typed,
  // 0 for none.
  // `typesLater`: the character comes after it as text input (TypeCharacter).
  void KeyDown(int keyCode, int charCode, bool typesLater = false);
  void KeyUp(int keyCode, int charCode);
  // The character a key typed (text input: a Unicode code point), after its KeyDown.
  void TypeCharacter(char32_t ch);
  // The caret of the focused field one step right or left.
  void MoveCaret(bool right);
  // Text pasted into the focused field.
  void PasteText(std::u32string_view chars);
  // Runs one frame at once, whatever the clock says (tools, tests); false without a movie.
  bool StepFrame();
  // Lets the interval of the last frame run pass without another frame (timers, loads, sounds
  // that fall due in it), for a tool that plays a fixed number of frames.
  void FinishFrameInterval();
  swf::Stage* Stage() { return stage_.get(); }

  // The size of the area the movie is shown in, in pixels.
  void SetViewportSize(Size size) {
    if (!(size == viewport_)) dirty_ = true;
    viewport_ = size;
  }
  Size ViewportSize() const { return viewport_; }

  // Moves the timeline on to the time `nowMs` (any monotonic millisecond clock). Every frame that
  // fell due is stepped, in order; a host that stalled for more than a second resumes from now
  // instead of racing through the backlog. Returns true when the picture changed (a new frame, or
  // the first call after Play, SetMovie or a property change), i.e. when RenderFrame is due.
  bool Advance(std::int64_t nowMs);
  // Milliseconds between frames at the movie's frame rate (12 fps without a movie).
  double FrameIntervalMs() const;
  // When the next frame falls due, on Advance's clock (valid after the first Advance while
  // playing).
  std::int64_t NextFrameDueMs() const;
  // The main timeline's frame last shown (0-based), -1 before the first; and its frame count.
  int CurrentFrame() const;
  // The movie's stage size in pixels (0 without a movie).
  int MovieWidth() const;
  int MovieHeight() const;
  int FrameCount() const;

  // Draws the current frame into `target`, scaled to the viewport size (the target's own size
  // when no viewport size was given). Every pixel of the viewport is written.
  void RenderFrame(SurfaceView target);

  // The transform from movie twips to viewport pixels for the current settings.
  swf::Matrix ViewMatrix(Size viewport) const;

  // Sound. Set the mode and the MP3 decoders before the movie; MixSound fills 44.1 kHz stereo
  // frames with the sound of the frames played so far and may be called from any thread.
  void SetSoundMode(SoundMode mode);
  void SetMp3Decoders(std::function<std::unique_ptr<Mp3Decoder>(int rate, int channels)> mp3) {
    mp3_ = std::move(mp3);
  }
  void MixSound(std::int16_t* stereo, std::size_t frames);
  swf::Mixer& Mixer() { return *mixer_; }

 private:
  void ResetTimeline();
  void StartSound();
  void StepStage();
  bool ToMovie(int x, int y, double& tx, double& ty) const;

  ImageLoader* images_;
  std::string moviePath_;
  std::unique_ptr<swf::ParseLimits> limits_;
  std::unique_ptr<swf::Movie> movie_;
  std::unique_ptr<swf::Stage> stage_;
  std::unique_ptr<swf::Scripts> scripts_;
  swf::TraceSink trace_;
  bool scriptsEnabled_ = true;
  bool logNavigation_ = false;
  swf::SocketOpener socketOpener_;
  std::optional<swf::FixedDate> fixedDate_;
  Size screen_{1920, 1080};
  double movieTimeMs_ = 0;  // the movie's clock: frames stepped times the frame interval
  std::unique_ptr<swf::Renderer> renderer_;
  FontSource* fontSource_ = nullptr;
  // The mixer outlives every movie (a sound device may be pulling from it); the movie's sound
  // goes with the movie.
  std::unique_ptr<swf::Mixer> mixer_;
  std::unique_ptr<swf::MovieSound> sound_;
  // What the scripts' Sound objects play through: the sound above while there is one.
  class ScriptSoundBridge;
  std::unique_ptr<ScriptSoundBridge> scriptSound_;
  SoundMode soundMode_ = SoundMode::kOff;
  std::function<std::unique_ptr<Mp3Decoder>(int, int)> mp3_;
  bool playing_ = false;
  bool dirty_ = true;
  bool started_ = false;  // the clock of Advance has been read since Play
  double nextDue_ = 0;
  FlashScaleMode scaleMode_ = FlashScaleMode::kShowAll;
  std::int32_t backgroundColor_ = -1;
  std::string wmode_ = "Window";
  std::string quality_ = "High";
  Size viewport_{};
};

}  // namespace dbx
