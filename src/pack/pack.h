// The content maker: turns a folder of pictures or one movie into a ready saver, laid out the way
// the program's start-up expects (seed file, content folder or movie, the program under the saver's
// name), after checking everything it packs.
//
//   PackOptions o;                          // usually from ParsePackArguments
//   o.name = "Holiday 2026";
//   o.pictures = {"a.jpg", "b.jpg"};
//   PackReport r = Pack(o, images);         // writes o.out, or leaves it as it was
//   if (!r.ok) for (auto& e : r.errors) puts(e.c_str());
#pragma once

#include <cstdint>
#include <filesystem>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace dbx {

class ImageLoader;

enum class PackBackground { kColour = 1, kGradient = 2, kPicture = 3 };

// The inputs that end the show; each one switched off keeps the show running on that input.
struct PackInputs {
  bool key = true;
  bool leftClick = true;
  bool rightClick = true;
  bool move = true;
  bool showPointer = false;
};

// How the seed file's text is encoded: the Windows program reads it in the ANSI code page
// (Windows-1252 here), the Linux program in UTF-8.
enum class SeedEncoding { kUtf8, kAnsi };

struct PackOptions {
  std::string name;                             // the saver name
  std::vector<std::filesystem::path> pictures;  // slideshow content, in showing order
  std::optional<std::filesystem::path> movie;   // movie content
  std::string interval = "10";                  // seconds between pictures
  std::vector<int> effects;                     // empty: all nineteen
  std::string step = "8";                       // pixels a transition advances per frame
  PackBackground background = PackBackground::kColour;
  std::int32_t colour = 0;  // colour value 0x00BBGGRR (plain background)
  std::int32_t gradientUp = 0, gradientDown = 0;
  std::string gradientAngle = "0";
  std::optional<std::filesystem::path> backgroundPicture;
  std::optional<std::filesystem::path> music;
  bool musicOnce = false;
  PackInputs inputs;
  std::string description, version, copyright, url;
  // Movie options: scale mode ("0" show all, "2" exact fit, "3" no scale), quality, background
  // (nothing: the movie's own).
  std::string scaleMode = "0";
  std::string quality = "High";
  std::optional<std::int32_t> movieBackground;
  std::filesystem::path program;  // the program file copied as "<name>.scr"
  std::filesystem::path out;      // the folder that receives the saver
  SeedEncoding encoding = SeedEncoding::kUtf8;
};

struct PackReport {
  bool ok = false;
  std::vector<std::string> errors;             // one line each, naming the file concerned
  std::vector<std::filesystem::path> written;  // relative to out, in the order written
};

// Parses the tool's command line (without the program name). On a mistake, `error` says what.
struct PackCommand {
  PackOptions options;
  bool installer = false;     // also build "<name> Setup.exe"
  bool xscreensaver = false;  // also install for the current user's xscreensaver
  bool help = false;
  std::string error;
};
PackCommand ParsePackArguments(const std::vector<std::string>& args);

// Natural file-name order: digit runs compare by value ("img2" before "img10"), letters without
// regard to case.
bool NaturalLess(std::string_view a, std::string_view b);

// The text as Windows-1252 bytes, or nothing when a character has no place in that code page.
std::optional<std::string> Utf8ToAnsi(std::string_view utf8);

// A colour given as "#RRGGBB", "RRGGBB" with a leading '#', or a decimal colour value, as the
// colour value 0x00BBGGRR the settings hold.
std::optional<std::int32_t> ParseColour(std::string_view text);

// The seed file's text (section [DM-NOVAPOST], CRLF lines) for the options, with every key the
// start-up and the screens read. Picture and music names are the files' own names.
std::string SeedFileText(const PackOptions& options);

// Checks everything and writes the saver into options.out through a folder beside it, so that
// a failed pack leaves out as it was. `out` may be missing, empty, or an earlier pack (a folder
// holding a seed file); anything else is refused.
PackReport Pack(const PackOptions& options, ImageLoader& images);

// The installer script (for makensis) that installs the packed folder `packed` into the system
// directory, and `setupExe`, the file it makes.
std::string InstallerScript(const PackOptions& options, const std::filesystem::path& packed,
                            const std::vector<std::filesystem::path>& files,
                            const std::filesystem::path& setupExe);

}  // namespace dbx

namespace dbx {

// The current user's xscreensaver settings text with an entry for `command` (named `title`) at the
// top of its list of programs; the text is returned unchanged when the entry is there already.
// Without a list of its own (`rc` empty or without one) the list starts from `defaults`, the
// system's default settings text, so that no saver of the user's list goes missing.
std::string AddXscreensaverEntry(std::string_view rc, std::string_view defaults,
                                 std::string_view title, std::string_view command);

}  // namespace dbx
