// A reader of INI text with the observable behaviour of the system's profile reader, for the
// platforms that have none: sections and keys matched without regard to case, the first match
// wins, spaces around keys and values ignored, one pair of enclosing quotes removed, ";" comment
// lines, "\r\n" or "\n" endings, a UTF-8 byte order mark skipped.
#pragma once

#include <optional>
#include <string>
#include <string_view>

namespace dbx {

// The value of `key` in `section`, or nothing when the section or key is absent.
std::optional<std::string> FindIniValue(std::string_view text, std::string_view section,
                                        std::string_view key);

// As the profile reader answers: the value (or `fallback` when absent) cut to bufferSize - 1
// characters. A buffer of 0 gives the empty text.
std::string IniProfileString(std::optional<std::string_view> fileText, std::string_view section,
                             std::string_view key, std::string_view fallback,
                             std::size_t bufferSize);

}  // namespace dbx
