#include <string>
#include <vector>

#include "pack/pack.h"

namespace dbx {
namespace {

std::vector<std::string> Lines(std::string_view text) {
  std::vector<std::string> out;
  std::size_t start = 0;
  while (start < text.size()) {
    const std::size_t nl = text.find('\n', start);
    const std::size_t end = nl == std::string_view::npos ? text.size() : nl;
    out.emplace_back(text.substr(start, end - start));
    start = end + 1;
  }
  return out;
}

// The lines of the resource `name` ("programs:" or "*programs:"): its first line and the lines
// that continue it with a trailing backslash. Returns [first, last] or nothing.
std::optional<std::pair<std::size_t, std::size_t>> FindResource(
    const std::vector<std::string>& lines, std::string_view name) {
  for (std::size_t i = 0; i < lines.size(); ++i) {
    if (lines[i].rfind(name, 0) != 0) continue;
    std::size_t last = i;
    while (last + 1 < lines.size() && !lines[last].empty() && lines[last].back() == '\\') ++last;
    return std::make_pair(i, last);
  }
  return std::nullopt;
}

}  // namespace

std::string AddXscreensaverEntry(std::string_view rc, std::string_view defaults,
                                 std::string_view title, std::string_view command) {
  const std::string entry =
      std::string("  \"").append(title).append("\" ").append(command).append(" \\n\\");
  if (rc.find(std::string(command)) != std::string_view::npos) return std::string(rc);
  std::vector<std::string> lines = Lines(rc);
  if (auto own = FindResource(lines, "programs:")) {
    std::string& head = lines[own->first];
    if (head.empty() || head.back() != '\\') {
      // A one-line list: its value moves below the new entry.
      const std::string value = head.substr(std::string_view("programs:").size());
      head = "programs: \\";
      lines.insert(lines.begin() + static_cast<std::ptrdiff_t>(own->first) + 1,
                   value.find_first_not_of(" \t") == std::string::npos ? "  " : "  " + value);
    }
    lines.insert(lines.begin() + static_cast<std::ptrdiff_t>(own->first) + 1, entry);
  } else {
    std::vector<std::string> block = {"programs: \\", entry};
    const std::vector<std::string> defaultLines = Lines(defaults);
    if (auto sys = FindResource(defaultLines, "*programs:")) {
      for (std::size_t i = sys->first + 1; i <= sys->second; ++i) block.push_back(defaultLines[i]);
    }
    if (block.back() == entry) block.back().pop_back();  // the entry is the list's last line
    lines.insert(lines.end(), block.begin(), block.end());
  }
  std::string out;
  for (const std::string& l : lines) out += l + "\n";
  return out;
}

}  // namespace dbx
