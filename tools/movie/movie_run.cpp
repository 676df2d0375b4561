#include "movie_run.h"

#include <algorithm>
#include <cctype>
#include <cmath>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <iterator>
#include <map>
#include <memory>

#include "swf/avm1/builtins.h"
#include "swf/flash_player.h"
#include "swf/text/faces.h"

#if defined(_WIN32)
#include "platform/win32/gdi_fonts.h"
#include "platform/win32/image_loader.h"
#include "platform/win32/movie_audio.h"
#else
#include "platform/fonts_ft/freetype_fonts.h"
#include "platform/imageio/image_io.h"
#include "platform/mpg123/mpg123_decoder.h"
#endif

namespace dbx::movie {

namespace {

// --- a small JSON reader: just what an input list holds ---

struct Json {
  enum class Type : std::uint8_t {
    kNull,
    kBool,
    kNumber,
    kString,
    kArray,
    kObject
  } type = Type::kNull;
  double number = 0;
  std::string text;
  std::vector<Json> items;
  std::map<std::string, Json> fields;
  const Json* Field(const std::string& name) const {
    const auto it = fields.find(name);
    return it == fields.end() ? nullptr : &it->second;
  }
};

class JsonReader {
 public:
  explicit JsonReader(std::string_view s) : s_(s) {}
  std::optional<Json> Document() {
    auto v = Value(0);
    Space();
    if (!v || pos_ != s_.size()) return std::nullopt;
    return v;
  }

 private:
  void Space() {
    while (pos_ < s_.size() && std::isspace(static_cast<unsigned char>(s_[pos_]))) ++pos_;
  }
  bool Eat(char c) {
    Space();
    if (pos_ < s_.size() && s_[pos_] == c) {
      ++pos_;
      return true;
    }
    return false;
  }
  std::optional<std::string> String() {
    if (!Eat('"')) return std::nullopt;
    std::string out;
    while (pos_ < s_.size() && s_[pos_] != '"') {
      char c = s_[pos_++];
      if (c == '\\' && pos_ < s_.size()) {
        c = s_[pos_++];
        switch (c) {
          case 'n':
            c = '\n';
            break;
          case 't':
            c = '\t';
            break;
          case 'r':
            c = '\r';
            break;
          case 'b':
            c = '\b';
            break;
          case 'f':
            c = '\f';
            break;
          case 'u': {
            if (pos_ + 4 > s_.size()) return std::nullopt;
            const unsigned cp = static_cast<unsigned>(
                std::strtoul(std::string(s_.substr(pos_, 4)).c_str(), nullptr, 16));
            pos_ += 4;
            // UTF-8.
            if (cp < 0x80) {
              out.push_back(static_cast<char>(cp));
            } else if (cp < 0x800) {
              out.push_back(static_cast<char>(0xC0 | (cp >> 6)));
              out.push_back(static_cast<char>(0x80 | (cp & 0x3F)));
            } else {
              out.push_back(static_cast<char>(0xE0 | (cp >> 12)));
              out.push_back(static_cast<char>(0x80 | ((cp >> 6) & 0x3F)));
              out.push_back(static_cast<char>(0x80 | (cp & 0x3F)));
            }
            continue;
          }
          default:
            break;  // \" \\ \/
        }
      }
      out.push_back(c);
    }
    if (pos_ >= s_.size()) return std::nullopt;
    ++pos_;
    return out;
  }
  std::optional<Json> Value(int nesting) {
    if (nesting > 64) return std::nullopt;
    Space();
    if (pos_ >= s_.size()) return std::nullopt;
    Json v;
    const char c = s_[pos_];
    if (c == '"') {
      auto str = String();
      if (!str) return std::nullopt;
      v.type = Json::Type::kString;
      v.text = std::move(*str);
    } else if (c == '[') {
      ++pos_;
      v.type = Json::Type::kArray;
      if (!Eat(']')) {
        do {
          auto item = Value(nesting + 1);
          if (!item) return std::nullopt;
          v.items.push_back(std::move(*item));
        } while (Eat(','));
        if (!Eat(']')) return std::nullopt;
      }
    } else if (c == '{') {
      ++pos_;
      v.type = Json::Type::kObject;
      if (!Eat('}')) {
        do {
          Space();
          auto key = String();
          if (!key || !Eat(':')) return std::nullopt;
          auto item = Value(nesting + 1);
          if (!item) return std::nullopt;
          v.fields[*key] = std::move(*item);
        } while (Eat(','));
        if (!Eat('}')) return std::nullopt;
      }
    } else if (s_.compare(pos_, 4, "true") == 0 || s_.compare(pos_, 5, "false") == 0) {
      v.type = Json::Type::kBool;
      v.number = s_[pos_] == 't';
      pos_ += s_[pos_] == 't' ? 4 : 5;
    } else if (s_.compare(pos_, 4, "null") == 0) {
      pos_ += 4;
    } else {
      const std::string rest(s_.substr(pos_, std::min<std::size_t>(64, s_.size() - pos_)));
      char* end = nullptr;
      v.number = std::strtod(rest.c_str(), &end);
      if (end == rest.c_str()) return std::nullopt;
      v.type = Json::Type::kNumber;
      pos_ += static_cast<std::size_t>(end - rest.c_str());
    }
    return v;
  }

  std::string_view s_;
  std::size_t pos_ = 0;
};

// Key names of the input lists as virtual-key codes, with the character they type.
bool KeyFromJson(const Json& key, int& code, int& ch) {
  if (key.type == Json::Type::kObject) {
    const Json* c = key.Field("Char");
    if (!c || c->text.empty()) return false;
    const unsigned char first = static_cast<unsigned char>(c->text[0]);
    ch = first;
    code = std::isalpha(first) ? std::toupper(first) : first;
    if (first == '"') code = 222;
    return true;
  }
  static const std::map<std::string, std::pair<int, int>> kNamed = {
      {"Tab", {9, 9}},           {"Escape", {27, 27}},    {"Enter", {13, 13}},
      {"Space", {32, 32}},       {"Backspace", {8, 8}},   {"Delete", {46, 127}},
      {"LeftShift", {16, 0}},    {"RightShift", {16, 0}}, {"LeftControl", {17, 0}},
      {"RightControl", {17, 0}}, {"LeftAlt", {18, 0}},    {"RightAlt", {18, 0}},
      {"Left", {37, 0}},         {"Up", {38, 0}},         {"Right", {39, 0}},
      {"Down", {40, 0}},         {"ArrowLeft", {37, 0}},  {"ArrowUp", {38, 0}},
      {"ArrowRight", {39, 0}},   {"ArrowDown", {40, 0}},  {"Home", {36, 0}},
      {"End", {35, 0}},          {"PageUp", {33, 0}},     {"PageDown", {34, 0}},
      {"Insert", {45, 0}},       {"CapsLock", {20, 0}},
  };
  const auto it = kNamed.find(key.text);
  if (it == kNamed.end()) return false;
  code = it->second.first;
  ch = it->second.second;
  return true;
}

}  // namespace

std::optional<swf::FixedDate> ParseFixedDate(std::string_view text) {
  // Digits at fixed places: YYYY-MM-DDTHH:MM:SS, then Z or +HH:MM / -HH:MM.
  auto number = [&](std::size_t at, std::size_t digits, int& out) {
    if (at + digits > text.size()) return false;
    out = 0;
    for (std::size_t i = at; i < at + digits; ++i) {
      if (text[i] < '0' || text[i] > '9') return false;
      out = out * 10 + (text[i] - '0');
    }
    return true;
  };
  auto is = [&](std::size_t at, char c) { return at < text.size() && text[at] == c; };
  int year = 0, month = 0, day = 0, hour = 0, minute = 0, second = 0;
  if (!number(0, 4, year) || !is(4, '-') || !number(5, 2, month) || !is(7, '-') ||
      !number(8, 2, day) || !is(10, 'T') || !number(11, 2, hour) || !is(13, ':') ||
      !number(14, 2, minute) || !is(16, ':') || !number(17, 2, second))
    return std::nullopt;
  int zone = 0;  // minutes ahead of UTC
  if (is(19, 'Z') && text.size() == 20) {
    zone = 0;
  } else if ((is(19, '+') || is(19, '-')) && text.size() == 25 && is(22, ':')) {
    int zh = 0, zm = 0;
    if (!number(20, 2, zh) || !number(23, 2, zm) || zh > 23 || zm > 59) return std::nullopt;
    zone = (zh * 60 + zm) * (is(19, '-') ? -1 : 1);
  } else {
    return std::nullopt;
  }
  static constexpr int kDaysIn[] = {31, 29, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
  if (month < 1 || month > 12 || day < 1 || day > kDaysIn[month - 1] || hour > 23 || minute > 59 ||
      second > 59)
    return std::nullopt;
  const bool leap = (year % 4 == 0 && year % 100 != 0) || year % 400 == 0;
  if (month == 2 && day == 29 && !leap) return std::nullopt;
  const double days = swf::avm1::DaysFromCivil(year, month - 1, day);
  const double local = days * 86400000.0 + ((hour * 60 + minute) * 60 + second) * 1000.0;
  swf::FixedDate d;
  d.zoneOffsetMs = zone * 60000.0;
  d.nowMs = local - d.zoneOffsetMs;
  return d;
}

std::optional<std::vector<InputEvent>> ParseInputEvents(std::string_view json) {
  auto doc = JsonReader(json).Document();
  if (!doc || doc->type != Json::Type::kArray) return std::nullopt;
  std::vector<InputEvent> out;
  std::u32string clipboard;
  for (const Json& item : doc->items) {
    const Json* type = item.Field("type");
    if (!type) continue;
    InputEvent e;
    const std::string& t = type->text;
    if (t == "Wait") {
      e.kind = InputEvent::Kind::kWait;
    } else if (t == "MouseMove" || t == "MouseDown" || t == "MouseUp") {
      e.kind = t == "MouseMove"   ? InputEvent::Kind::kMouseMove
               : t == "MouseDown" ? InputEvent::Kind::kMouseDown
                                  : InputEvent::Kind::kMouseUp;
      if (const Json* pos = item.Field("pos"); pos && pos->items.size() == 2) {
        e.x = pos->items[0].number;
        e.y = pos->items[1].number;
      }
      if (const Json* btn = item.Field("btn"))
        e.button = btn->text == "Right" ? 1 : btn->text == "Middle" ? 2 : 0;
    } else if (t == "TextInput") {
      e.kind = InputEvent::Kind::kTextInput;
      const Json* c = item.Field("codepoint");
      const std::u32string chars = c ? swf::text::DecodeUtf8(c->text) : std::u32string();
      if (chars.empty()) continue;
      e.character = chars[0];
    } else if (t == "SetClipboardText") {
      const Json* text = item.Field("text");
      clipboard = text ? swf::text::DecodeUtf8(text->text) : std::u32string();
      continue;
    } else if (t == "TextControl") {
      const Json* code = item.Field("code");
      if (code && code->text == "Paste") {
        e.kind = InputEvent::Kind::kPaste;
        e.pasted = clipboard;
      } else if (code && (code->text == "MoveLeft" || code->text == "MoveRight")) {
        e.kind = code->text == "MoveRight" ? InputEvent::Kind::kCaretRight
                                           : InputEvent::Kind::kCaretLeft;
      } else {
        continue;
      }
    } else if (t == "KeyDown" || t == "KeyUp") {
      e.kind = t == "KeyDown" ? InputEvent::Kind::kKeyDown : InputEvent::Kind::kKeyUp;
      const Json* key = item.Field("key");
      if (!key || !KeyFromJson(*key, e.keyCode, e.charCode)) continue;
    } else {
      continue;
    }
    out.push_back(e);
  }
  // A key whose typing the list gives as text input before the next key event.
  for (std::size_t i = 0; i < out.size(); ++i) {
    if (out[i].kind != InputEvent::Kind::kKeyDown) continue;
    for (std::size_t j = i + 1; j < out.size(); ++j) {
      const InputEvent::Kind k = out[j].kind;
      if (k == InputEvent::Kind::kTextInput) out[i].typesLater = true;
      if (k == InputEvent::Kind::kKeyDown || k == InputEvent::Kind::kKeyUp) break;
    }
  }
  return out;
}

std::optional<std::vector<SocketStep>> ParseSocketSteps(std::string_view json) {
  auto doc = JsonReader(json).Document();
  if (!doc || doc->type != Json::Type::kArray) return std::nullopt;
  std::vector<SocketStep> out;
  for (const Json& item : doc->items) {
    const Json* type = item.Field("type");
    if (!type) continue;
    SocketStep step;
    if (type->text == "Send" || type->text == "Receive") {
      step.kind = type->text == "Send" ? SocketStep::Kind::kSend : SocketStep::Kind::kReceive;
      const Json* payload = item.Field("payload");
      if (!payload) payload = item.Field("expected");
      if (payload)
        for (const Json& b : payload->items)
          step.bytes.push_back(static_cast<char>(static_cast<std::uint8_t>(b.number)));
    } else if (type->text == "WaitForDisconnect") {
      step.kind = SocketStep::Kind::kWaitForClose;
    } else if (type->text == "Disconnect") {
      step.kind = SocketStep::Kind::kClose;
    } else {
      continue;
    }
    out.push_back(std::move(step));
  }
  return out;
}

namespace {

// A peer that plays its steps in order, as far as it can each time the movie looks.
class ScriptedPeer final : public swf::SocketPeer {
 public:
  explicit ScriptedPeer(std::vector<SocketStep> steps) : steps_(std::move(steps)) {}
  std::string Receive(bool& closed) override {
    std::string out;
    for (; next_ < steps_.size(); ++next_) {
      const SocketStep& s = steps_[next_];
      if (s.kind == SocketStep::Kind::kSend) {
        out += s.bytes;
      } else if (s.kind == SocketStep::Kind::kReceive) {
        if (heard_.size() < s.bytes.size()) break;
        heard_.erase(0, s.bytes.size());
      } else if (s.kind == SocketStep::Kind::kClose) {
        closed = true;
        break;
      } else {
        break;  // waits for the movie to close
      }
    }
    return out;
  }
  void Send(std::string_view bytes) override { heard_ += bytes; }
  void Close() override { next_ = steps_.size(); }

 private:
  std::vector<SocketStep> steps_;
  std::size_t next_ = 0;
  std::string heard_;
};

}  // namespace

RunResult RunMovie(const RunOptions& o, const std::function<void(std::string_view)>& trace) {
  RunResult result;
#if defined(_WIN32)
  win32::WicImageLoader images;
#else
  FileImageLoader images;
#endif
  // Text in installed fonts is drawn with the system's faces, as the screensaver draws it.
#if defined(_WIN32)
  const std::unique_ptr<FontSource> fonts = win32::CreateGdiFonts();
#else
  FontFiles files;
  files.faces = o.fontFiles;
  files.sans = o.sansFamily;
  files.serif = o.serifFamily;
  files.typewriter = o.typewriterFamily;
  const std::unique_ptr<FontSource> fonts = CreateFreeTypeFonts(files);
#endif
  FlashPlayer player(&images);
  player.SetFontSource(fonts.get());
  player.SetTraceSink([&](std::string_view line) {
    if (trace) trace(line);
  });
  player.SetQuality2(o.quality);
  player.SetNavigationLog(o.logNavigation);
  player.SetFixedDate(o.fixedDate);
  if (o.socket)
    player.SetSocketOpener([steps = *o.socket](const std::string&, int) {
      return std::make_unique<ScriptedPeer>(steps);
    });
  if (o.width > 0 && o.height > 0 && o.scaleFactor > 0) {
    player.SetScreenResolution(Size{static_cast<int>(std::lround(o.width / o.scaleFactor)),
                                    static_cast<int>(std::lround(o.height / o.scaleFactor))});
  }
  // The sound is mixed as the frames advance, exactly one frame's time per frame, so that the
  // scripts see sounds end at the right frame and the mix can be written out.
#if defined(_WIN32)
  player.SetMp3Decoders(win32::CreateAcmMp3Decoder);
#else
  player.SetMp3Decoders(CreateMpg123Decoder);
#endif
  player.SetSoundMode(SoundMode::kPulled);
  player.SetMovie(o.path);
  if (!player.HasMovie()) return result;
  result.loaded = true;
  int w = o.width, h = o.height;
  if (w <= 0 || h <= 0) {
    w = player.MovieWidth();
    h = player.MovieHeight();
  }
  w = std::clamp(w, 1, 8192);
  h = std::clamp(h, 1, 8192);
  player.SetViewportSize(Size{w, h});
  player.SetScaleMode(0);
  player.Play();
  const int frames = std::max(1, o.frames);
  const int capture = o.captureFrame > 0 ? std::min(o.captureFrame, frames) : frames;
  std::size_t next = 0;
  // The first frame has run when the movie loaded; input comes between frames, up to each Wait.
  // A frame's picture is taken after its input.
  std::uint64_t mixed = 0;
  std::vector<std::int16_t> block;
  for (int frame = 1; frame <= frames; ++frame) {
    if (frame > 1) player.StepFrame();
    // The sound of this frame's interval (44.1 kHz stereo), rounded so that the sum stays exact.
    const auto due = static_cast<std::uint64_t>(
        std::llround(frame * player.FrameIntervalMs() * kSoundRate / 1000.0));
    if (due > mixed) {
      const std::size_t count = static_cast<std::size_t>(due - mixed);
      block.resize(2 * count);
      player.MixSound(block.data(), count);
      if (o.sound) result.sound.insert(result.sound.end(), block.begin(), block.end());
      mixed = due;
    }
    while (next < o.input.size()) {
      const InputEvent& e = o.input[next++];
      const int x = static_cast<int>(std::floor(e.x)), y = static_cast<int>(std::floor(e.y));
      switch (e.kind) {
        case InputEvent::Kind::kWait:
          break;
        case InputEvent::Kind::kMouseMove:
          player.MouseMove(x, y);
          continue;
        case InputEvent::Kind::kMouseDown:
          player.MouseDown(e.button, x, y);
          continue;
        case InputEvent::Kind::kMouseUp:
          player.MouseUp(e.button, x, y);
          continue;
        case InputEvent::Kind::kKeyDown:
          player.KeyDown(e.keyCode, e.charCode, e.typesLater);
          continue;
        case InputEvent::Kind::kKeyUp:
          player.KeyUp(e.keyCode, e.charCode);
          continue;
        case InputEvent::Kind::kTextInput:
          player.TypeCharacter(e.character);
          continue;
        case InputEvent::Kind::kCaretLeft:
        case InputEvent::Kind::kCaretRight:
          player.MoveCaret(e.kind == InputEvent::Kind::kCaretRight);
          continue;
        case InputEvent::Kind::kPaste:
          player.PasteText(e.pasted);
          continue;
      }
      break;  // a Wait: the next frame
    }
    // The picture of a frame shows what the input given with it changed (a focus rectangle,
    // a pressed button).
    if (o.picture && frame == capture) {
      Surface s(w, h);
      player.RenderFrame(s.View());
      result.picture = std::move(s);
    }
  }
  // The last frame's interval passes too, as it does after every other frame.
  player.FinishFrameInterval();
  return result;
}

bool WriteWav(const std::string& path, const std::vector<std::int16_t>& sound) {
  const std::uint64_t bytes = static_cast<std::uint64_t>(sound.size()) * 2;
  if (bytes > 0xFFFFFFFFull - 36) return false;
  std::vector<std::uint8_t> out;
  out.reserve(44 + static_cast<std::size_t>(bytes));
  auto put = [&](std::uint32_t v, int n) {
    for (int i = 0; i < n; ++i) out.push_back(static_cast<std::uint8_t>(v >> (8 * i)));
  };
  auto tag = [&](const char* t) { out.insert(out.end(), t, t + 4); };
  tag("RIFF");
  put(static_cast<std::uint32_t>(36 + bytes), 4);
  tag("WAVE");
  tag("fmt ");
  put(16, 4);
  put(1, 2);                   // PCM
  put(2, 2);                   // stereo
  put(kSoundRate, 4);          // frames per second
  put(kSoundRate * 2 * 2, 4);  // bytes per second
  put(4, 2);                   // bytes per frame
  put(16, 2);                  // bits per sample
  tag("data");
  put(static_cast<std::uint32_t>(bytes), 4);
  for (std::int16_t v : sound) put(static_cast<std::uint16_t>(v), 2);
  std::ofstream f(path, std::ios::binary);
  f.write(reinterpret_cast<const char*>(out.data()), static_cast<std::streamsize>(out.size()));
  return static_cast<bool>(f);
}

std::size_t CountOutliers(const Surface& a, const Surface& b, int tolerance) {
  if (a.width() != b.width() || a.height() != b.height()) {
    const std::size_t big = std::max(static_cast<std::size_t>(a.width()) * a.height(),
                                     static_cast<std::size_t>(b.width()) * b.height());
    return big * 3;
  }
  std::size_t n = 0;
  for (int y = 0; y < a.height(); ++y)
    for (int x = 0; x < a.width(); ++x) {
      const Pixel p = a.At(x, y), q = b.At(x, y);
      for (int shift : {0, 8, 16}) {
        const int d = static_cast<int>((p >> shift) & 0xFF) - static_cast<int>((q >> shift) & 0xFF);
        if (std::abs(d) > tolerance) ++n;
      }
    }
  return n;
}

}  // namespace dbx::movie
