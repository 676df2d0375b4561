// Plays a movie headless: the code behind dazzlebox-movie and the conformance runner. Frames run
// back to back, input events from a list are fed between them, trace() lines go to a sink, and
// the picture of one frame is kept.
#pragma once

#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "core/surface.h"
#include "swf/display/scripts.h"

namespace dbx::movie {

// One entry of an input list (the conformance corpus's input.json).
struct InputEvent {
  enum class Kind : std::uint8_t {
    kMouseMove,
    kMouseDown,
    kMouseUp,
    kKeyDown,
    kKeyUp,
    kTextInput,
    kCaretLeft,
    kCaretRight,
    kPaste,
    kWait
  };
  Kind kind = Kind::kWait;
  double x = 0, y = 0;      // movie pixels
  int button = 0;           // 0 left, 1 right, 2 middle
  int keyCode = 0;          // virtual-key numbering
  int charCode = 0;         // the character the key types, 0 for none
  char32_t character = 0;   // text input: the character typed
  std::u32string pasted;    // a paste: the clipboard's text
  bool typesLater = false;  // a key down whose character follows as text input
};

// Parses an input list. The clipboard's text is kept for the pastes after it; events of kinds this
// player does not take (text controls other than the caret's moves and paste) are left out;
// nothing when the text is not a JSON array.
std::optional<std::vector<InputEvent>> ParseInputEvents(std::string_view json);

// One step of the peer that a movie's XMLSocket connections reach (the corpus's socket.json): it
// sends bytes, waits for bytes from the movie, waits for the movie to close, or closes.
struct SocketStep {
  enum class Kind : std::uint8_t { kSend, kReceive, kWaitForClose, kClose };
  Kind kind = Kind::kSend;
  std::string bytes;  // what it sends or waits for
};
// Parses a peer's steps (unknown kinds are left out); nothing when the text is not a JSON array.
std::optional<std::vector<SocketStep>> ParseSocketSteps(std::string_view json);

struct RunOptions {
  std::string path;
  int frames = 1;
  int width = 0, height = 0;  // 0: the movie's own size
  double scaleFactor = 1;     // of the screen the viewport stands for (System.capabilities)
  std::string quality = "High";
  std::vector<InputEvent> input;
  // The peer every XMLSocket connection reaches; none: connections fail.
  std::optional<std::vector<SocketStep>> socket;
  int captureFrame = 0;                     // 1-based frame whose picture is kept; 0: the last
  bool picture = true;                      // keep a picture at all
  bool sound = false;                       // keep the mixed sound
  bool logNavigation = false;               // trace the pages a getURL would open
  std::optional<swf::FixedDate> fixedDate;  // the moment and zone scripts' Date sees
  // Faces read from font files under family names of their own (family, file), and the families
  // that "_sans", "_serif" and "_typewriter" stand for; empty: the system's. Linux only.
  std::vector<std::pair<std::string, std::string>> fontFiles;
  std::string sansFamily, serifFamily, typewriterFamily;
};

// The rate of the mixed sound: 16-bit stereo frames per second.
inline constexpr int kSoundRate = 44100;

struct RunResult {
  bool loaded = false;  // the file was read and parsed as a movie
  std::optional<Surface> picture;
  std::vector<std::int16_t> sound;  // interleaved stereo at kSoundRate, when asked for
};

// A 16-bit stereo RIFF/WAVE file of `sound` at kSoundRate; false when it cannot be written.
bool WriteWav(const std::string& path, const std::vector<std::int16_t>& sound);

// "YYYY-MM-DDTHH:MM:SS" followed by "Z" or a zone offset "+HH:MM" / "-HH:MM": that local time in
// that zone; nothing for any other text.
std::optional<swf::FixedDate> ParseFixedDate(std::string_view text);

// Plays the movie; every trace() line goes to `trace` as it is printed.
RunResult RunMovie(const RunOptions& options, const std::function<void(std::string_view)>& trace);

// Channels (red, green, blue of every pixel) that differ by more than `tolerance`; pictures of
// different sizes differ in every channel of the larger.
std::size_t CountOutliers(const Surface& a, const Surface& b, int tolerance);

}  // namespace dbx::movie
