// The toolkit layer: everything the portable program needs from the operating system, as small
// interfaces. One implementation each lives in win32/, x11/ and headless/ (in memory, for tests and
// the render tool). Portable code includes this header and never a system header.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "core/surface.h"

namespace dbx {

// A window handle of the host system as a number: an HWND on Windows, an X Window id on X11.
using NativeHandle = std::uint64_t;

// ---------------------------------------------------------------------------------------------
// Settings store: a per-user hierarchy of keys holding named text values. Key paths use "\" as the
// separator (Software\DEvOrevi\<saver>\Option). Key and value names are matched without regard to
// case; the empty value name is the key's default value. Parents are created on write. Anything
// absent, and any value that is not text, reads as nothing.
struct SettingWrite {
  std::string key;
  std::string name;
  std::string text;
};

class SettingsStore {
 public:
  virtual ~SettingsStore() = default;
  virtual std::optional<std::string> ReadText(std::string_view key, std::string_view name) = 0;
  virtual void WriteText(std::string_view key, std::string_view name, std::string_view text) = 0;
  // Several writes in order. A store that can make them one change (all or none) does.
  virtual void WriteTexts(const std::vector<SettingWrite>& writes) {
    for (const auto& w : writes) WriteText(w.key, w.name, w.text);
  }
};

// The seed-file reader, with the behaviour of the system's INI reader: the default for a missing
// file, section or key; section and key names matched without regard to case; the value cut to
// bufferSize - 1 characters.
class IniReader {
 public:
  virtual ~IniReader() = default;
  virtual std::string ReadString(const std::string& file, std::string_view section,
                                 std::string_view key, std::string_view fallback,
                                 std::size_t bufferSize) = 0;
};

// Where things are on disk.
class SystemPaths {
 public:
  virtual ~SystemPaths() = default;
  // The folder that holds the program and its content, whole, without a trailing separator
  // (on Windows the system directory; a folder of any length is returned whole).
  virtual std::string SystemDirectory() = 0;
  // The long form of an existing path, whole; the empty text when it does not exist.
  virtual std::string LongPathName(const std::string& path) = 0;
  // The folder separator of this system's paths.
  virtual char Separator() const = 0;
  virtual bool FileExists(const std::string& path) = 0;
};

// The running process and its neighbours.
class Process {
 public:
  virtual ~Process() = default;
  // The command-line text after the program's own name, as the system passes it.
  virtual std::string CommandLine() = 0;
  // The program's own file name as it was started (no folder), e.g. "MYSAVE~1.SCR" or "dazzlebox".
  virtual std::string ProgramFileName() = 0;
  // True when another instance of the same saver is already running. Savers are told apart by
  // their name, as the window title marks them: two links of one program file are two savers.
  virtual bool PreviousInstanceRunning(std::string_view saverName) = 0;
  // True when a top-level window whose title is exactly `title` exists.
  virtual bool TopLevelWindowExists(std::string_view title) = 0;
  // The client size of a foreign window, or nothing when the handle names no window.
  virtual std::optional<Size> ClientSizeOf(NativeHandle window) = 0;
  // Starts a command line as a new process, shown normally and focused; does not wait.
  virtual bool Start(std::string_view commandLine) = 0;
  // Ends the process at once with the given exit code.
  [[noreturn]] virtual void ExitNow(int code) = 0;
};

// The pointer.
class Cursor {
 public:
  virtual ~Cursor() = default;
  // Raises (true) or lowers (false) the display count; the pointer shows while it is >= 0.
  // Returns the new count.
  virtual int Show(bool show) = 0;
  // Pointer position in screen pixels.
  virtual Point Position() = 0;
};

// ---------------------------------------------------------------------------------------------
// Windows and their events.

enum class MouseButton { kLeft = 1, kRight = 2, kMiddle = 4 };

// Modifier bits of key and mouse events.
enum ShiftBits : int { kShiftMask = 1, kCtrlMask = 2, kAltMask = 4 };

// What a form hears from its window. Every handler has an empty default.
class WindowEvents {
 public:
  virtual ~WindowEvents() = default;
  virtual void OnKeyDown(int /*keyCode*/, int /*shift*/) {}
  // A key that produced a character (Esc gives 27, Enter 13).
  virtual void OnKeyPress(int /*charCode*/) {}
  virtual void OnMouseDown(MouseButton /*button*/, int /*shift*/, Point /*client*/) {}
  virtual void OnMouseUp(MouseButton /*button*/, int /*shift*/, Point /*client*/) {}
  virtual void OnMouseMove(int /*buttons*/, int /*shift*/, Point /*client*/) {}
  virtual void OnResize(Size /*client*/) {}
  // The system asks the window to close (window manager, preview parent gone, SIGTERM).
  virtual void OnCloseRequest() {}
  // The window needs repainting from the form's current surface.
  virtual void OnPaint() {}
};

enum class WindowState { kNormal, kMaximized };

// Window procedures. Input reaches a window as messages numbered as on Windows, so that a form can
// intercept the input of a window it does not own (the movie player's) the same way on every
// system. Mouse messages carry the client position in lParam (x in the low 16 bits, y in the next
// 16, both signed) and the button bits in wParam; key messages carry the key code in wParam;
// kWmChar carries the character code.
enum WindowMessage : std::uint32_t {
  kWmKeyDown = 0x0100,
  kWmKeyUp = 0x0101,
  kWmChar = 0x0102,
  kWmMouseMove = 0x0200,
  kWmLButtonDown = 0x0201,
  kWmLButtonUp = 0x0202,
  kWmRButtonDown = 0x0204,
  kWmRButtonUp = 0x0205,
  kWmMButtonDown = 0x0207,
  kWmMButtonUp = 0x0208,
};
enum MouseKeyBits : std::uintptr_t {
  kMkLButton = 0x01,
  kMkRButton = 0x02,
  kMkShift = 0x04,
  kMkControl = 0x08,
  kMkMButton = 0x10
};
using WindowProc = std::function<std::intptr_t(NativeHandle window, std::uint32_t message,
                                               std::uintptr_t wParam, std::intptr_t lParam)>;

constexpr std::intptr_t MakeMouseLParam(int x, int y) {
  return static_cast<std::intptr_t>((static_cast<std::uint32_t>(y & 0xFFFF) << 16) |
                                    static_cast<std::uint32_t>(x & 0xFFFF));
}
constexpr Point MouseLParamPoint(std::intptr_t lParam) {
  return {static_cast<std::int16_t>(lParam & 0xFFFF),
          static_cast<std::int16_t>((lParam >> 16) & 0xFFFF)};
}

struct WindowOptions {
  std::string caption = "Form1";
  bool border = false;
  Pixel background = 0;
};

class Window {
 public:
  virtual ~Window() = default;
  virtual void SetCaption(std::string_view caption) = 0;
  virtual std::string Caption() const = 0;
  virtual void Show() = 0;
  // kMaximized covers the whole monitor (borderless full screen).
  virtual void SetState(WindowState state) = 0;
  virtual Size ClientSize() const = 0;
  // Draws the given rectangle of a surface at the same place of the client area.
  virtual void Present(const SurfaceView& pixels, Rect dirty) = 0;
  // Turns the window into a child of a foreign window and shows it at (0, 0) with the given size,
  // without activating it and without maximising it.
  virtual void EmbedInto(NativeHandle parent, Size size) = 0;
  // Screen twips per pixel on each axis (15 at 96 dots per inch).
  virtual int TwipsPerPixelX() const = 0;
  virtual int TwipsPerPixelY() const = 0;
  virtual NativeHandle Handle() const = 0;
  // Removes the window; no event reaches the form afterwards.
  virtual void Destroy() = 0;
  // Places a child window inside its parent's client area (ignored for top-level windows).
  virtual void Move(Rect /*area*/) {}
  virtual void SetVisible(bool /*visible*/) {}
  // Gives the window the keyboard focus (a child window then receives the key presses).
  virtual void Focus() {}
  // Borderless over exactly this area of the desktop (one monitor, in screen pixels), above
  // everything; the form hears the new size. A platform without monitors covers its screen.
  virtual void CoverArea(Rect /*area*/) { SetState(WindowState::kMaximized); }
};

// ---------------------------------------------------------------------------------------------
// The message loop: timers, a frame tick paced to the display, pending messages.

using TimerId = int;

class EventLoop {
 public:
  virtual ~EventLoop() = default;
  // A timer that calls `tick` every `periodMs` milliseconds while enabled. Starts disabled.
  virtual TimerId CreateTimer(std::int64_t periodMs, std::function<void()> tick) = 0;
  // Enabling re-arms the timer: the next tick comes a whole period later.
  virtual void SetTimer(TimerId id, bool enabled, std::int64_t periodMs) = 0;
  virtual void DestroyTimer(TimerId id) = 0;
  // Lets pending messages (input, paint, timers that are due) run, then returns.
  virtual void RunPending() = 0;
  // Waits for the next display refresh (or one refresh period), running messages meanwhile.
  virtual void WaitFrame() = 0;
  // Milliseconds from an arbitrary start, monotonic.
  virtual std::int64_t NowMs() = 0;
  // Runs until Quit; returns the exit code.
  virtual int Run() = 0;
  virtual void Quit(int code) = 0;
};

// ---------------------------------------------------------------------------------------------
// Pictures, sound, dialogs, system colours.

class ImageLoader {
 public:
  virtual ~ImageLoader() = default;
  // JPEG and BMP (PNG where available) into a surface; nothing when the file is missing, not a
  // picture, or too large to hold.
  virtual std::optional<Surface> Load(const std::string& path) = 0;
  // The same from bytes in memory (JPEG data inside a movie).
  virtual std::optional<Surface> Decode(const std::uint8_t* data, std::size_t size) = 0;
};

enum class SoundRepeat { kOnce, kLoop };

class SoundPlayer {
 public:
  virtual ~SoundPlayer() = default;
  // Starts a WAV file asynchronously; false when it cannot be played.
  virtual bool Play(const std::string& path, SoundRepeat repeat) = 0;
  virtual void Stop() = 0;
};

// Decodes one MP3 stream, fed piece by piece. The rate and channels are what the container says
// the stream holds; a decoder may rely on them (the system decoder of Windows needs them up
// front) or read them from the stream.
class Mp3Decoder {
 public:
  virtual ~Mp3Decoder() = default;
  // Takes the next bytes of the stream and appends every sample it could decode so far to `out`,
  // interleaved 16-bit, Channels() per frame. False once the stream cannot be decoded at all.
  virtual bool Feed(const std::uint8_t* data, std::size_t size, std::vector<std::int16_t>& out) = 0;
  // What the samples delivered are: 0 until the first frame is decoded.
  virtual int SampleRate() const = 0;
  virtual int Channels() const = 0;
};

// The sound device. The platform calls the source from a thread of its own with room for
// `frames` frames of 44.1 kHz interleaved stereo 16-bit samples, which the source fills entirely.
using AudioSource = std::function<void(std::int16_t* stereo, std::size_t frames)>;

class AudioOutput {
 public:
  // Closing the output stops the calls to the source before it returns.
  virtual ~AudioOutput() = default;
};

enum class MessageKind { kInformation, kWarning, kError };

class Dialogs {
 public:
  virtual ~Dialogs() = default;
  virtual void MessageBox(std::string_view text, std::string_view caption, MessageKind kind) = 0;
};

class SystemColors {
 public:
  virtual ~SystemColors() = default;
  // The colour value (0x00BBGGRR) of system colour `index` (0 to 30).
  virtual std::int32_t SysColor(int index) = 0;
};

// A colour value with a system colour (a negative value whose low 31 bits are 0 to 24) replaced by
// that colour's value; any other value as it is.
inline std::int32_t ResolveSystemColor(std::int32_t color, SystemColors& colors) {
  const std::uint32_t index = static_cast<std::uint32_t>(color) & 0x7FFFFFFFu;
  if (color >= 0 || index > 24u) return color;
  return colors.SysColor(static_cast<int>(index));
}

// ---------------------------------------------------------------------------------------------
// Installed fonts: glyph outlines of the system's faces, for movies that draw text in a device
// font. Outlines are in em units (the em square is 1 x 1), y pointing down, the baseline at 0.
struct GlyphOutline {
  enum class Verb : std::uint8_t { kMove, kLine, kQuad };  // a quad takes two points
  std::vector<Verb> verbs;
  std::vector<float> points;  // x, y pairs in verb order
  float advance = 0;
};

struct FaceMetrics {
  float ascent = 0.8f, descent = 0.2f, leading = 0;  // em units, all positive
};

class FontSource {
 public:
  virtual ~FontSource() = default;
  // An installed face for a family name and style, as a handle >= 0; -1 when the system has no
  // face at all. "_sans", "_serif" and "_typewriter" name the system's sans-serif, serif and
  // monospace faces; a family that is not installed falls back to the sans-serif face.
  virtual int OpenFace(std::string_view family, bool bold, bool italic) = 0;
  virtual FaceMetrics Metrics(int face) = 0;
  // The outline of one character; nothing when the face has no glyph for it.
  virtual std::optional<GlyphOutline> Glyph(int face, char32_t ch) = 0;
  // The installed family names.
  virtual std::vector<std::string> Families() = 0;
};

// ---------------------------------------------------------------------------------------------
// Everything together. A platform owns its services; forms borrow them.
class Platform {
 public:
  virtual ~Platform() = default;
  virtual SettingsStore& Settings() = 0;
  virtual IniReader& Ini() = 0;
  virtual SystemPaths& Paths() = 0;
  virtual Process& Proc() = 0;
  virtual Cursor& Pointer() = 0;
  virtual EventLoop& Loop() = 0;
  virtual ImageLoader& Images() = 0;
  virtual SoundPlayer& Sound() = 0;
  virtual Dialogs& Dialog() = 0;
  virtual SystemColors& Colors() = 0;
  // Installed fonts, or nothing on a system that offers none.
  virtual FontSource* Fonts() { return nullptr; }
  // An MP3 decoder for a stream of the given rate and channels, or nothing when the system has
  // none.
  virtual std::unique_ptr<Mp3Decoder> CreateMp3Decoder(int /*rate*/, int /*channels*/) {
    return nullptr;
  }
  // Starts pulling sound from `source` until the output is closed; nothing when there is no
  // sound device (the caller then plays silently).
  // NOLINTNEXTLINE(performance-unnecessary-value-param): a sink; the backends move it in.
  virtual std::unique_ptr<AudioOutput> OpenAudioOutput(AudioSource /*source*/) { return nullptr; }
  // The monitors of the desktop in screen pixels, the primary one first. Empty when there is one
  // screen only, or when the show goes into a window it was given.
  virtual std::vector<Rect> Monitors() { return {}; }
  // A new top-level window (or nothing when the display cannot give one).
  virtual std::unique_ptr<Window> CreateWindow(const WindowOptions& options,
                                               WindowEvents& events) = 0;
  // A child window inside `parent`, of the given window class, that receives its own input.
  // (A platform without child windows answers nothing.)
  virtual std::unique_ptr<Window> CreateChildWindow(Window& /*parent*/,
                                                    std::string_view /*className*/,
                                                    const WindowOptions& /*options*/,
                                                    WindowEvents& /*events*/) {
    return nullptr;
  }
  // The descendants of one of this process's windows, in the system's enumeration order.
  virtual std::vector<NativeHandle> DescendantWindows(NativeHandle /*parent*/) { return {}; }
  virtual std::string WindowClassName(NativeHandle /*window*/) { return {}; }
  // Replaces the window procedure of one of this process's windows and returns the one it
  // replaced, which the new procedure calls for every message it does not handle itself. The
  // previous procedure of a window that is not ours is empty, and nothing is replaced.
  // The procedure is taken by value: an override keeps it.
  virtual WindowProc SubclassWindow(NativeHandle /*window*/,
                                    WindowProc /*procedure*/) {  // NOLINT(performance-*)
    return {};
  }
};

}  // namespace dbx
