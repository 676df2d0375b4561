// The script interface of the timeline. The timeline decides when scripts run (frame actions, init
// actions, clip events, button actions, in the original player's order); a script runtime decides
// what they do. The player hands the runtime to the stage; without one, movies play their timeline
// only.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "swf/format/movie.h"

namespace dbx::swf {

class Clip;
class Stage;

using ByteSpan = std::span<const std::uint8_t>;

// Where trace() output goes: one call per line, without the line end.
using TraceSink = std::function<void(std::string_view line)>;

class Scripts {
 public:
  virtual ~Scripts() = default;

  // A clip came into the tree (placed by a timeline, attached, duplicated or created empty),
  // before its first frame runs. The runtime makes its script object here (and runs a registered
  // class's constructor when it wants to).
  virtual void ClipCreated(Clip& clip) = 0;
  // A sprite is constructed (its class, its construct event), its own first frame in place: one a
  // script made at once, one a timeline placed after the init actions of its frame and before
  // the frame's other scripts.
  virtual void ConstructClip(Clip&) {}
  // A clip leaves the tree (its unload event has been fired). The clip object stays valid until
  // the end of the current frame; after that pointers to it dangle.
  virtual void ClipRemoved(Clip& clip) = 0;

  // Runs one DoAction block (or a button's action block) with `clip` as the target and `this`.
  virtual void RunActions(Clip& clip, ByteSpan code) = 0;
  // Runs a DoInitAction block for sprite `sprite`, with `root` as the target.
  virtual void RunInitActions(Clip& root, std::uint16_t sprite, ByteSpan code) = 0;
  // Fires an event at a clip: the clip actions placed with it that answer the event (the clip's
  // `clipActions`; `keyCode` for kKeyPress) and the matching method of its script object
  // (onEnterFrame, onLoad, onPress ...). Button characters get kPress, kRelease, kRollOver ... too.
  virtual void FireClipEvent(Clip& clip, ClipEvent event, int keyCode) = 0;
  // Input for the listeners (Key, Mouse): kKeyDown, kKeyUp, kMouseDown, kMouseUp, kMouseMove.
  virtual void Broadcast(ClipEvent event, int keyCode, int charCode) = 0;
  // The Tab key went down and nothing took it for itself: the keyboard focus moves on.
  virtual void TabKey() {}
  // A character typed (a Unicode code point) that no button's key press took: it goes into the
  // input field with the keyboard focus.
  virtual void TypeCharacter(char32_t /*ch*/) {}
  // The movie a root timeline imports characters from: the file `url` beside the movies (parsed
  // once, owned by the stage). Null when there is none.
  virtual const Movie* ImportedMovie(std::string_view /*url*/) { return nullptr; }
  // A caret move in the focused field (the arrow keys' editing).
  virtual void MoveCaret(bool /*right*/) {}
  // Text pasted into the input field with the keyboard focus.
  virtual void PasteText(std::u32string_view /*chars*/) {}
  // A mouse button went down or up: Key.isDown(1, 2 or 4: left, right, middle) says so.
  virtual void ButtonHeld(int /*keyCode*/, bool /*down*/) {}
  // The pointer moved, or its left or right button went down or up.
  virtual void PointerUsed() {}
  // The object a focus rectangle is drawn around (one the keyboard gave the focus, until the
  // pointer is used); null for none.
  virtual const Clip* FocusRectangle() const { return nullptr; }
  // Whether scripts left a button or sprite enabled.
  virtual bool IsEnabled(const Clip& /*clip*/) const { return true; }
  // Whether a sprite answers its unload event (a clip action or an onUnload method): a timeline
  // that removes it leaves it in the tree until the event has run.
  virtual bool AnswersUnload(const Clip& /*clip*/) const { return false; }
  // Whether a sprite takes the pointer as a button does (it has onPress, onRelease, ... and is
  // enabled).
  virtual bool IsMouseTarget(const Clip& clip) const = 0;
  // Whether scripts made a button or sprite a menu item (trackAsMenu).
  virtual bool TracksAsMenu(const Clip& /*clip*/) const { return false; }

  // Once per frame, before anything of the frame runs: the player's clock in milliseconds since
  // the movie started (intervals, getTimer).
  virtual void BeginFrame(double timeMs) = 0;
  // Once per frame, after every script of the frame ran: a good time to collect garbage.
  virtual void EndFrame() = 0;
  // A warning of the player about the movie (a place on a depth that is taken, ...), for the
  // trace log beside the scripts' own lines.
  virtual void Warn(std::string_view /*message*/) {}
};

// How loud a script's sounds play: the volume (0..100, and beyond) and how the sound's left and
// right reach the output's left and right, in percent (ll: left to left, lr: left to right ...).
struct SoundLevels {
  double volume = 100;
  double ll = 100, lr = 0, rr = 100, rl = 0;
};

// What scripts do with the movie's sound (the Sound object, stopAllSounds). A sound is named by
// a handle: a sound character's id, or what LoadFile returned for a file.
class ScriptSound {
 public:
  virtual ~ScriptSound() = default;
  // Reads and decodes a sound file (MP3); its handle, or 0 when it cannot be read or decoded.
  virtual std::uint32_t LoadFile(const std::string& path) = 0;
  // Decodes the sound of a video file: its tags' coded data in `format`, a block each (MP3
  // frames, PCM, ADPCM), as one sound; its handle, or 0 as LoadFile.
  virtual std::uint32_t LoadBlocks(const SoundFormat& format,
                                   const std::vector<std::vector<std::uint8_t>>& blocks) = 0;
  // The handle of sound character `id` of `movie` (the main movie's or one loaded beside it).
  virtual std::uint32_t Handle(const Movie& movie, std::uint16_t id) = 0;
  // The length of a sound in milliseconds; negative when it is not known.
  virtual double DurationMs(std::uint32_t sound) = 0;
  // Plays a sound from `offsetMs`, `loops` times; the voice, or 0 when nothing plays (no sound
  // output, or a sound that cannot be decoded).
  virtual int Start(std::uint32_t sound, double offsetMs, int loops, const SoundLevels& levels) = 0;
  virtual void Stop(int voice) = 0;
  // Every sound: those the timelines started and those the scripts started.
  virtual void StopAll() = 0;
  virtual bool Playing(int voice) const = 0;
  // Milliseconds of the voice played, within its current loop.
  virtual double PositionMs(int voice) const = 0;
  virtual void SetLevels(int voice, const SoundLevels& levels) = 0;
  // Applied to everything the movie plays (a Sound object made without a clip).
  virtual void SetMasterLevels(const SoundLevels& levels) = 0;
};

// A calendar that stands still, for runs that must trace the same dates every time: scripts' Date
// sees this time as now and this zone as the local one.
struct FixedDate {
  double nowMs = 0;         // milliseconds since 1970-01-01 00:00 UTC
  double zoneOffsetMs = 0;  // local time minus UTC (no daylight saving)
};

// The other end of a movie's XMLSocket connection. The screensaver opens none (it has no opener:
// every connection fails); the movie tool plays one from a script.
class SocketPeer {
 public:
  virtual ~SocketPeer() = default;
  // The bytes that came since the last call, in order; `closed` is set once the peer has gone.
  virtual std::string Receive(bool& closed) = 0;
  virtual void Send(std::string_view bytes) = 0;
  // The movie closed the connection.
  virtual void Close() = 0;
};
// Opens a connection to `host` and `port`; null when it cannot be made.
using SocketOpener = std::function<std::unique_ptr<SocketPeer>(const std::string& host, int port)>;

// What the player hands a runtime when it makes one.
struct ScriptHost {
  const Movie& movie;
  Stage& stage;
  TraceSink trace;
  std::string moviePath;         // for files beside the movie (loadMovie); may be empty
  ScriptSound* sound = nullptr;  // null: the movie plays no script sound
  // A getURL that would open a page writes the page and window to the trace instead of nothing,
  // and a request that sends variables writes itself there as it goes.
  bool logNavigation = false;
  // The screen's resolution that the movie is told of (System.capabilities), in the desktop's
  // own pixels (device pixels divided by its scale factor).
  int screenWidth = 1920, screenHeight = 1080;
  // Unset: the system's clock and local zone.
  std::optional<FixedDate> fixedDate{};
  // For the movies and pictures that scripts load: the JPEG decoder (none: JPEG pictures are
  // left out) and the limits the main movie was read with.
  ImageLoader* images = nullptr;
  ParseLimits limits{};
  // XMLSocket connections (none: a movie's connections fail).
  SocketOpener socketOpener{};
};

// The runtime of `swf/avm1/runtime.h` provides
//   std::unique_ptr<Scripts> avm1::CreateRuntime(const ScriptHost& host);
// the player makes one per movie and passes it to Stage::SetScripts.

}  // namespace dbx::swf
