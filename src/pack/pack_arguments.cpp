#include <algorithm>
#include <cctype>
#include <string_view>

#include "pack/pack.h"

namespace dbx {
namespace {

bool IsOption(const std::string& s) {
  return s.size() > 2 && s[0] == '-' && s[1] == '-';
}

bool SameIgnoringCase(std::string_view a, std::string_view b) {
  return a.size() == b.size() && std::equal(a.begin(), a.end(), b.begin(), [](char x, char y) {
           return std::tolower(static_cast<unsigned char>(x)) ==
                  std::tolower(static_cast<unsigned char>(y));
         });
}

bool IsWholeNumber(const std::string& s) {
  if (s.empty() || s.size() > 9) return false;
  for (char c : s) {
    if (!std::isdigit(static_cast<unsigned char>(c))) return false;
  }
  return true;
}

// Inputs that end the show, as a comma list of key, left, right, move (or "none").
bool ParseInputs(const std::string& list, PackInputs& inputs) {
  inputs.key = inputs.leftClick = inputs.rightClick = inputs.move = false;
  std::size_t start = 0;
  while (start <= list.size()) {
    const std::size_t comma = std::min(list.find(',', start), list.size());
    const std::string item = list.substr(start, comma - start);
    if (item == "key") {
      inputs.key = true;
    } else if (item == "left") {
      inputs.leftClick = true;
    } else if (item == "right") {
      inputs.rightClick = true;
    } else if (item == "move") {
      inputs.move = true;
    } else if (item != "none") {
      return false;
    }
    start = comma + 1;
  }
  return true;
}

}  // namespace

PackCommand ParsePackArguments(const std::vector<std::string>& args) {
  PackCommand cmd;
  PackOptions& o = cmd.options;
  std::size_t i = 0;
  auto fail = [&](std::string why) {
    if (cmd.error.empty()) cmd.error = std::move(why);
  };
  // The value after an option; `what` names it in the message when it is missing.
  auto value = [&](const std::string& option) -> std::optional<std::string> {
    if (i + 1 >= args.size() || IsOption(args[i + 1])) {
      fail(option + ": a value is missing");
      return std::nullopt;
    }
    return args[++i];
  };
  auto colour = [&](const std::string& option, std::int32_t& into) {
    if (auto v = value(option)) {
      if (auto c = ParseColour(*v)) {
        into = *c;
      } else {
        fail(option + " " + *v + ": not a colour (#RRGGBB or a colour number)");
      }
    }
  };
  for (; i < args.size() && cmd.error.empty(); ++i) {
    const std::string& a = args[i];
    if (a == "--help" || a == "-h") {
      cmd.help = true;
    } else if (a == "--name") {
      if (auto v = value(a)) o.name = *v;
    } else if (a == "--pictures") {
      while (i + 1 < args.size() && !IsOption(args[i + 1])) o.pictures.emplace_back(args[++i]);
      if (o.pictures.empty()) fail("--pictures: give a folder or picture files");
    } else if (a == "--movie") {
      if (auto v = value(a)) o.movie = *v;
    } else if (a == "--interval") {
      if (auto v = value(a)) o.interval = *v;
    } else if (a == "--step") {
      if (auto v = value(a)) o.step = *v;
    } else if (a == "--effects") {
      o.effects.clear();
      if (i + 1 < args.size() && args[i + 1] == "all") {
        ++i;
        continue;
      }
      while (i + 1 < args.size() && !IsOption(args[i + 1])) {
        const std::string& e = args[++i];
        if (!IsWholeNumber(e)) {
          fail("--effects " + e + ": give effect numbers 0-18 or all");
          break;
        }
        o.effects.push_back(std::stoi(e));
      }
      if (o.effects.empty() && cmd.error.empty()) fail("--effects: give effect numbers or all");
    } else if (a == "--background") {
      const auto kind = value(a);
      if (!kind) continue;
      if (*kind == "gradient") {
        o.background = PackBackground::kGradient;
        colour("--background gradient", o.gradientUp);
        colour("--background gradient", o.gradientDown);
        if (auto v = value("--background gradient")) o.gradientAngle = *v;
      } else if (*kind == "picture") {
        o.background = PackBackground::kPicture;
        if (auto v = value("--background picture")) o.backgroundPicture = *v;
      } else if (auto c = ParseColour(*kind)) {
        o.background = PackBackground::kColour;
        o.colour = *c;
        o.movieBackground = *c;
      } else {
        fail("--background " + *kind + ": give a colour, gradient C1 C2 ANGLE or picture FILE");
      }
    } else if (a == "--music") {
      if (auto v = value(a)) o.music = *v;
    } else if (a == "--once") {
      o.musicOnce = true;
    } else if (a == "--inputs") {
      if (auto v = value(a); v && !ParseInputs(*v, o.inputs)) {
        fail("--inputs " + *v + ": give a comma list of key, left, right, move, or none");
      }
    } else if (a == "--show-pointer") {
      o.inputs.showPointer = true;
    } else if (a == "--description") {
      if (auto v = value(a)) o.description = *v;
    } else if (a == "--version") {
      if (auto v = value(a)) o.version = *v;
    } else if (a == "--copyright") {
      if (auto v = value(a)) o.copyright = *v;
    } else if (a == "--url") {
      if (auto v = value(a)) o.url = *v;
    } else if (a == "--scale") {
      const auto v = value(a);
      if (!v) continue;
      if (*v == "show-all") {
        o.scaleMode = "0";
      } else if (*v == "exact-fit") {
        o.scaleMode = "2";
      } else if (*v == "no-scale") {
        o.scaleMode = "3";
      } else if (*v == "no-border") {
        fail("--scale no-border: the movie screen offers show-all, exact-fit and no-scale");
      } else {
        fail("--scale " + *v + ": give show-all, exact-fit or no-scale");
      }
    } else if (a == "--quality") {
      const auto v = value(a);
      if (!v) continue;
      static const char* const kQualities[] = {"Best", "High", "AutoHigh", "AutoLow", "Low"};
      bool known = false;
      for (const char* q : kQualities) {
        if (SameIgnoringCase(*v, q)) {
          o.quality = q;
          known = true;
        }
      }
      if (!known) fail("--quality " + *v + ": give Best, High, AutoHigh, AutoLow or Low");
    } else if (a == "--program") {
      if (auto v = value(a)) o.program = *v;
    } else if (a == "--out") {
      if (auto v = value(a)) o.out = *v;
    } else if (a == "--installer") {
      cmd.installer = true;
    } else if (a == "--xscreensaver") {
      cmd.xscreensaver = true;
    } else if (a == "--ansi") {
      o.encoding = SeedEncoding::kAnsi;
    } else {
      fail(a + ": unknown option (see --help)");
    }
  }
  if (cmd.installer) o.encoding = SeedEncoding::kAnsi;
  if (!cmd.help && cmd.error.empty()) {
    if (o.name.empty()) fail("--name: the saver needs a name");
    if (o.out.empty()) fail("--out: give the folder that receives the saver");
  }
  return cmd;
}

}  // namespace dbx
