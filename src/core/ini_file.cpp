#include "core/ini_file.h"

#include "core/registry_document.h"

namespace dbx {
namespace {

std::string_view Trim(std::string_view s) {
  const char* ws = " \t\v\f\r";
  const auto first = s.find_first_not_of(ws);
  if (first == std::string_view::npos) return {};
  const auto last = s.find_last_not_of(ws);
  return s.substr(first, last - first + 1);
}

}  // namespace

std::optional<std::string> FindIniValue(std::string_view text, std::string_view section,
                                        std::string_view key) {
  if (text.substr(0, 3) == "\xEF\xBB\xBF") text.remove_prefix(3);
  bool inSection = false;
  bool seenSection = false;
  for (std::size_t start = 0; start < text.size();) {
    std::size_t end = text.find('\n', start);
    if (end == std::string_view::npos) end = text.size();
    const std::string_view line = Trim(text.substr(start, end - start));
    start = end + 1;
    if (line.empty() || line.front() == ';') continue;
    if (line.front() == '[') {
      // The first section of that name is the one that counts.
      if (inSection) return std::nullopt;
      const auto close = line.find(']');
      const std::string_view name =
          Trim(line.substr(1, close == std::string_view::npos ? line.size() - 1 : close - 1));
      inSection = !seenSection && EqualsNoCase(name, Trim(section));
      seenSection = seenSection || inSection;
      continue;
    }
    if (!inSection) continue;
    const auto eq = line.find('=');
    const std::string_view name = Trim(line.substr(0, eq));
    if (!EqualsNoCase(name, Trim(key))) continue;
    std::string_view value =
        eq == std::string_view::npos ? std::string_view{} : Trim(line.substr(eq + 1));
    if (value.size() >= 2 && (value.front() == '"' || value.front() == '\'') &&
        value.back() == value.front()) {
      value = value.substr(1, value.size() - 2);
    }
    return std::string(value);
  }
  return std::nullopt;
}

std::string IniProfileString(std::optional<std::string_view> fileText, std::string_view section,
                             std::string_view key, std::string_view fallback,
                             std::size_t bufferSize) {
  std::string value;
  if (auto found = fileText ? FindIniValue(*fileText, section, key) : std::nullopt) {
    value = std::move(*found);
  } else {
    value = std::string(fallback);
  }
  if (bufferSize == 0) return {};
  if (value.size() > bufferSize - 1) value.resize(bufferSize - 1);
  // The reader hands back a zero-terminated buffer: the text ends at the first zero.
  if (const auto nul = value.find('\0'); nul != std::string::npos) value.resize(nul);
  return value;
}

}  // namespace dbx
