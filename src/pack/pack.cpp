#include "pack/pack.h"

#include <algorithm>
#include <cctype>
#include <cstdio>
#include <fstream>
#include <iterator>
#include <random>
#include <system_error>

#include "core/platform.h"
#include "pack/wave_check.h"
#include "swf/format/movie.h"

namespace dbx {
namespace fs = std::filesystem;

namespace {

constexpr int kEffectCount = 19;
constexpr std::string_view kSeedFile = "Zirezarev.ini";
constexpr std::string_view kContentRoot = "DEvOrevi";
// Files larger than this are not packed: no picture, movie or tune of a saver comes near it.
constexpr std::uintmax_t kMaxFileBytes = 1ull << 30;

std::string Lower(std::string_view s) {
  std::string out(s);
  for (char& c : out) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  return out;
}

bool IsPictureFile(const fs::path& p) {
  const std::string ext = Lower(p.extension().string());
  return ext == ".jpg" || ext == ".jpeg" || ext == ".bmp" || ext == ".jpe";
}

// Settings texts are one line each.
std::string OneLine(std::string_view s) {
  std::string out(s);
  for (char& c : out) {
    if (c == '\r' || c == '\n' || c == '\t') c = ' ';
  }
  return out;
}

std::string TrueFalse(bool b) {
  return b ? "True" : "False";
}

std::optional<std::vector<std::uint8_t>> ReadFile(const fs::path& p) {
  std::error_code ec;
  const auto size = fs::file_size(p, ec);
  if (ec || size > kMaxFileBytes) return std::nullopt;
  std::ifstream in(p, std::ios::binary);
  if (!in) return std::nullopt;
  std::vector<std::uint8_t> data(static_cast<std::size_t>(size));
  in.read(reinterpret_cast<char*>(data.data()), static_cast<std::streamsize>(data.size()));
  if (!in) return std::nullopt;
  return data;
}

// A file name that the Windows program can hold in its ANSI settings and open: representable in
// the code page, no path or wildcard characters, no trailing dot or space.
std::optional<std::string> NameProblem(std::string_view name) {
  if (name.empty()) return "the name is empty";
  if (!Utf8ToAnsi(name)) return "has characters the Windows ANSI code page cannot hold";
  for (char c : name) {
    if (static_cast<unsigned char>(c) < 32 ||
        std::string_view("\\/:*?\"<>|").find(c) != std::string_view::npos) {
      return "has a character that cannot be part of a Windows file name";
    }
  }
  if (name.back() == '.' || name.back() == ' ') return "ends with a dot or a space";
  return std::nullopt;
}

bool IsNumber(std::string_view s, bool allowFraction) {
  if (s.empty()) return false;
  bool digit = false, dot = false;
  for (char c : s) {
    if (std::isdigit(static_cast<unsigned char>(c))) {
      digit = true;
    } else if (c == '.' && allowFraction && !dot) {
      dot = true;
    } else {
      return false;
    }
  }
  return digit;
}

std::string Join(const std::vector<int>& v) {
  std::string out;
  for (int e : v) {
    if (!out.empty()) out += ' ';
    out += std::to_string(e);
  }
  return out;
}

// The pictures of the show: files as given, folders by their pictures in natural order.
std::vector<fs::path> ExpandPictures(const std::vector<fs::path>& given,
                                     std::vector<std::string>& errors) {
  std::vector<fs::path> out;
  for (const fs::path& p : given) {
    std::error_code ec;
    if (fs::is_directory(p, ec)) {
      std::vector<fs::path> found;
      for (const auto& entry : fs::directory_iterator(p, ec)) {
        if (entry.is_regular_file(ec) && IsPictureFile(entry.path())) found.push_back(entry.path());
      }
      std::sort(found.begin(), found.end(), [](const fs::path& a, const fs::path& b) {
        return NaturalLess(a.filename().string(), b.filename().string());
      });
      if (found.empty()) errors.push_back(p.string() + ": no JPEG or BMP pictures in this folder");
      out.insert(out.end(), found.begin(), found.end());
    } else {
      out.push_back(p);
    }
  }
  return out;
}

void CheckName(const fs::path& file, std::vector<std::string>& errors) {
  if (auto problem = NameProblem(file.filename().string())) {
    errors.push_back(file.string() + ": the file name " + *problem);
  }
}

void CheckPicture(const fs::path& file, ImageLoader& images, std::vector<std::string>& errors) {
  std::error_code ec;
  if (!fs::is_regular_file(file, ec)) {
    errors.push_back(file.string() + ": no such file");
    return;
  }
  CheckName(file, errors);
  if (!images.Load(file.string())) {
    errors.push_back(file.string() + ": not a picture that the show can decode (JPEG or BMP)");
  }
}

struct Staging {
  fs::path dir;
  bool keep = false;
  ~Staging() {
    if (!keep && !dir.empty()) {
      std::error_code ec;
      fs::remove_all(dir, ec);
    }
  }
};

bool WriteText(const fs::path& p, const std::string& text) {
  std::ofstream out(p, std::ios::binary);
  out.write(text.data(), static_cast<std::streamsize>(text.size()));
  out.close();
  return static_cast<bool>(out);
}

// Replaces `out` by the staged folder: out missing, empty, or an earlier pack.
bool Commit(const fs::path& staged, const fs::path& out, std::vector<std::string>& errors) {
  std::error_code ec;
  if (!fs::exists(out, ec)) {
    fs::rename(staged, out, ec);
    if (ec) errors.push_back(out.string() + ": cannot be written (" + ec.message() + ")");
    return !ec;
  }
  const fs::path old = fs::path(staged).concat(".old");
  fs::rename(out, old, ec);
  if (ec) {
    errors.push_back(out.string() + ": cannot be replaced (" + ec.message() + ")");
    return false;
  }
  fs::rename(staged, out, ec);
  if (ec) {
    std::error_code back;
    fs::rename(old, out, back);
    errors.push_back(out.string() + ": cannot be written (" + ec.message() + ")");
    return false;
  }
  fs::remove_all(old, ec);
  return true;
}

bool OutIsReplaceable(const fs::path& out) {
  std::error_code ec;
  if (!fs::exists(out, ec)) return true;
  if (!fs::is_directory(out, ec)) return false;
  if (fs::is_empty(out, ec)) return true;
  return fs::exists(out / kSeedFile, ec);
}

}  // namespace

bool NaturalLess(std::string_view a, std::string_view b) {
  std::size_t i = 0, j = 0;
  while (i < a.size() && j < b.size()) {
    const auto ca = static_cast<unsigned char>(a[i]), cb = static_cast<unsigned char>(b[j]);
    if (std::isdigit(ca) && std::isdigit(cb)) {
      std::size_t ei = i, ej = j;
      while (ei < a.size() && a[ei] == '0') ++ei;
      while (ej < b.size() && b[ej] == '0') ++ej;
      std::size_t di = ei, dj = ej;
      while (di < a.size() && std::isdigit(static_cast<unsigned char>(a[di]))) ++di;
      while (dj < b.size() && std::isdigit(static_cast<unsigned char>(b[dj]))) ++dj;
      const std::string_view na = a.substr(ei, di - ei), nb = b.substr(ej, dj - ej);
      if (na.size() != nb.size()) return na.size() < nb.size();
      if (na != nb) return na < nb;
      i = di;
      j = dj;
      continue;
    }
    const int la = std::tolower(ca), lb = std::tolower(cb);
    if (la != lb) return la < lb;
    ++i;
    ++j;
  }
  if ((a.size() - i) != (b.size() - j)) return (a.size() - i) < (b.size() - j);
  return a < b;  // equal but for case or leading zeros: a fixed order all the same
}

std::optional<std::string> Utf8ToAnsi(std::string_view s) {
  // Windows-1252 bytes 0x80-0x9F; 0 marks the five holes of the code page.
  static constexpr char32_t kHigh[32] = {
      0x20AC, 0,      0x201A, 0x0192, 0x201E, 0x2026, 0x2020, 0x2021, 0x02C6, 0x2030, 0x0160,
      0x2039, 0x0152, 0,      0x017D, 0,      0,      0x2018, 0x2019, 0x201C, 0x201D, 0x2022,
      0x2013, 0x2014, 0x02DC, 0x2122, 0x0161, 0x203A, 0x0153, 0,      0x017E, 0x0178};
  std::string out;
  std::size_t i = 0;
  while (i < s.size()) {
    const auto c = static_cast<unsigned char>(s[i]);
    char32_t cp = 0;
    int extra = 0;
    if (c < 0x80) {
      cp = c;
    } else if ((c & 0xE0) == 0xC0) {
      cp = c & 0x1F;
      extra = 1;
    } else if ((c & 0xF0) == 0xE0) {
      cp = c & 0x0F;
      extra = 2;
    } else if ((c & 0xF8) == 0xF0) {
      cp = c & 0x07;
      extra = 3;
    } else {
      return std::nullopt;
    }
    if (i + static_cast<std::size_t>(extra) >= s.size() && extra > 0) return std::nullopt;
    for (int k = 1; k <= extra; ++k) {
      const auto cc = static_cast<unsigned char>(s[i + static_cast<std::size_t>(k)]);
      if ((cc & 0xC0) != 0x80) return std::nullopt;
      cp = (cp << 6) | (cc & 0x3F);
    }
    i += static_cast<std::size_t>(extra) + 1;
    if (cp < 0x80 || (cp >= 0xA0 && cp <= 0xFF)) {
      out += static_cast<char>(cp);
      continue;
    }
    const auto* hit = std::find(std::begin(kHigh), std::end(kHigh), cp);
    if (cp == 0 || hit == std::end(kHigh)) return std::nullopt;
    out += static_cast<char>(0x80 + (hit - std::begin(kHigh)));
  }
  return out;
}

std::optional<std::int32_t> ParseColour(std::string_view text) {
  if (!text.empty() && text.front() == '#') {
    text.remove_prefix(1);
    if (text.size() != 6) return std::nullopt;
    std::uint32_t rgb = 0;
    for (char c : text) {
      const int v = std::isdigit(static_cast<unsigned char>(c))
                        ? c - '0'
                        : (std::isxdigit(static_cast<unsigned char>(c))
                               ? std::tolower(static_cast<unsigned char>(c)) - 'a' + 10
                               : -1);
      if (v < 0) return std::nullopt;
      rgb = rgb * 16 + static_cast<std::uint32_t>(v);
    }
    const std::uint32_t r = rgb >> 16, g = (rgb >> 8) & 0xFF, b = rgb & 0xFF;
    return static_cast<std::int32_t>(r | (g << 8) | (b << 16));
  }
  if (!IsNumber(text, false) || text.size() > 8) return std::nullopt;
  const long long v = std::stoll(std::string(text));
  if (v > 0xFFFFFF) return std::nullopt;
  return static_cast<std::int32_t>(v);
}

std::string SeedFileText(const PackOptions& o) {
  std::vector<std::pair<std::string, std::string>> keys;
  auto add = [&](std::string k, std::string_view v) {
    keys.emplace_back(std::move(k), OneLine(v));
  };
  const bool movie = o.movie.has_value();
  add("ImageOrSWF", movie ? "False" : "True");
  add("SaverDec", o.description);
  add("SaverVer", o.version);
  add("SaverCopy", o.copyright);
  add("SaverLogo", "");
  add("SaverURL", o.url);
  add("LeftMouse", TrueFalse(o.inputs.leftClick));
  add("RightMouse", TrueFalse(o.inputs.rightClick));
  add("MoveMouse", TrueFalse(!o.inputs.move));  // "True": moving keeps the show
  add("Keydown", TrueFalse(o.inputs.key));
  add("HideMouse", TrueFalse(o.inputs.showPointer));  // "True" shows the pointer
  if (movie) {
    add("SaverPath", o.name + ".swf");
    add("SaverBgcolor", std::to_string(o.movieBackground.value_or(-1)));
    add("SaverQuality", o.quality);
    add("ScaleModes", o.scaleMode);
  } else {
    std::vector<int> effects = o.effects;
    if (effects.empty()) {
      for (int e = 0; e < kEffectCount; ++e) effects.push_back(e);
    }
    add("TestSaver", "False");
    add("Saverpath", "");
    add("SaverEffects", Join(effects));
    add("SaverTime", o.step);
    add("SaverInterval", o.interval);
    add("SaverAudio", o.music ? o.music->filename().string() : "");
    add("Restartmusic", o.musicOnce ? "Once" : "Loop");
    add("SaverBgSelect", std::to_string(static_cast<int>(o.background)));
    switch (o.background) {
      case PackBackground::kColour:
        add("SaverBgColor", std::to_string(o.colour));
        break;
      case PackBackground::kGradient:
        add("SaverGradientUP", std::to_string(o.gradientUp));
        add("SaverGradientDown", std::to_string(o.gradientDown));
        add("SaverGradientAngle", o.gradientAngle);
        break;
      case PackBackground::kPicture:
        add("SaverImagebg", o.backgroundPicture ? o.backgroundPicture->filename().string() : "");
        break;
    }
    std::string sort;
    for (const fs::path& p : o.pictures) sort += p.filename().string() + "*";
    add("SaverSort", sort);
  }
  std::string text = "[DM-NOVAPOST]\r\n";
  for (const auto& [k, v] : keys) text += k + "=" + v + "\r\n";
  return text;
}

PackReport Pack(const PackOptions& given, ImageLoader& images) {
  PackReport report;
  auto& errors = report.errors;
  PackOptions o = given;

  if (auto problem = NameProblem(o.name))
    errors.push_back("--name \"" + o.name + "\": " + *problem);
  if (o.out.empty()) errors.push_back("--out: no folder given");
  if (o.movie.has_value() == !o.pictures.empty()) {
    errors.push_back("give either --pictures or --movie");
  }
  std::error_code ec;
  if (!fs::is_regular_file(o.program, ec)) {
    errors.push_back(o.program.string() + ": the program to pack is missing");
  }
  if (!o.out.empty() && !OutIsReplaceable(o.out)) {
    errors.push_back(o.out.string() +
                     ": exists and is not an earlier pack; give an empty or new folder");
  }

  if (o.movie) {
    CheckName(*o.movie, errors);
    const auto data = ReadFile(*o.movie);
    if (!data) {
      errors.push_back(o.movie->string() + ": cannot be read");
    } else if (!swf::ParseMovie(data->data(), data->size(), nullptr)) {
      errors.push_back(o.movie->string() + ": not a movie that the player can parse");
    }
  } else {
    if (!IsNumber(o.interval, true))
      errors.push_back("--interval " + o.interval + ": not a number");
    if (!IsNumber(o.step, false)) errors.push_back("--step " + o.step + ": not a whole number");
    o.pictures = ExpandPictures(o.pictures, errors);
    std::vector<std::string> seen;
    for (const fs::path& p : o.pictures) {
      CheckPicture(p, images, errors);
      const std::string lower = Lower(p.filename().string());
      if (std::find(seen.begin(), seen.end(), lower) != seen.end()) {
        errors.push_back(p.string() + ": a second picture of the same file name");
      }
      seen.push_back(lower);
    }
    if (o.background == PackBackground::kPicture) {
      if (!o.backgroundPicture) {
        errors.push_back("--background picture: no file given");
      } else {
        CheckPicture(*o.backgroundPicture, images, errors);
      }
    }
    if (o.music) {
      CheckName(*o.music, errors);
      const auto data = ReadFile(*o.music);
      if (!data) {
        errors.push_back(o.music->string() + ": cannot be read");
      } else if (!IsPcmWave(data->data(), data->size())) {
        errors.push_back(o.music->string() + ": not a PCM wave file");
      }
    }
  }
  for (int e : o.effects) {
    if (e < 0 || e >= kEffectCount)
      errors.push_back(
          std::string("--effects ").append(std::to_string(e)).append(": no such effect (0-18)"));
  }
  std::string seed = SeedFileText(o);
  if (o.encoding == SeedEncoding::kAnsi) {
    if (auto ansi = Utf8ToAnsi(seed)) {
      seed = *ansi;
    } else {
      errors.push_back(
          "a text of the seed file has characters the Windows ANSI code page cannot hold");
    }
  }
  if (!errors.empty()) return report;

  // Everything is written beside `out` first; `out` changes only once it is complete.
  fs::path parent = o.out.parent_path();
  if (parent.empty()) parent = ".";
  fs::create_directories(parent, ec);
  Staging staging;
  std::random_device rd;
  staging.dir = parent / (std::string(".")
                              .append(o.out.filename().string())
                              .append(".pack-")
                              .append(std::to_string(rd() % 1000000)));
  if (!fs::create_directory(staging.dir, ec)) {
    errors.push_back(staging.dir.string() + ": cannot be made (" + ec.message() + ")");
    return report;
  }
  auto copy = [&](const fs::path& from, const fs::path& rel) {
    std::error_code e;
    fs::create_directories((staging.dir / rel).parent_path(), e);
    if (!e) fs::copy_file(from, staging.dir / rel, fs::copy_options::overwrite_existing, e);
    if (e) {
      errors.push_back(from.string() + ": cannot be copied (" + e.message() + ")");
      return;
    }
    report.written.push_back(rel);
  };
  const fs::path content = fs::path(kContentRoot) / o.name;
  copy(o.program, o.name + ".scr");
  fs::permissions(staging.dir / (o.name + ".scr"),
                  fs::perms::owner_exec | fs::perms::group_exec | fs::perms::others_exec,
                  fs::perm_options::add, ec);
  if (o.movie) {
    copy(*o.movie, o.name + ".swf");
  } else {
    for (const fs::path& p : o.pictures) copy(p, content / p.filename());
    if (o.background == PackBackground::kPicture && o.backgroundPicture) {
      copy(*o.backgroundPicture, content / o.backgroundPicture->filename());
    }
    if (o.music) copy(*o.music, content / o.music->filename());
  }
  if (!WriteText(staging.dir / kSeedFile, seed)) {
    errors.push_back((o.out / kSeedFile).string() + ": cannot be written");
  } else {
    report.written.emplace_back(kSeedFile);
  }
  if (!errors.empty() || !Commit(staging.dir, o.out, errors)) {
    report.written.clear();
    return report;
  }
  staging.keep = true;
  report.ok = true;
  return report;
}

}  // namespace dbx
