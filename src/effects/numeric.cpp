#include "effects/numeric.h"

#include <cctype>
#include <cstdlib>
#include <string>

namespace dbx {

std::optional<std::int32_t> ParseWholeNumber(std::string_view text) {
  std::size_t b = 0, e = text.size();
  while (b < e && (text[b] == ' ' || text[b] == '\t')) ++b;
  while (e > b && (text[e - 1] == ' ' || text[e - 1] == '\t')) --e;
  const std::string_view t = text.substr(b, e - b);
  if (t.empty() || t.size() > 64) return std::nullopt;
  // Validate the shape: [sign] digits [. digits] [e|E [sign] digits], at least one digit.
  std::size_t i = 0;
  if (t[i] == '+' || t[i] == '-') ++i;
  std::size_t digits = 0;
  while (i < t.size() && std::isdigit(static_cast<unsigned char>(t[i]))) ++i, ++digits;
  if (i < t.size() && t[i] == '.') {
    ++i;
    while (i < t.size() && std::isdigit(static_cast<unsigned char>(t[i]))) ++i, ++digits;
  }
  if (digits == 0) return std::nullopt;
  if (i < t.size() && (t[i] == 'e' || t[i] == 'E')) {
    ++i;
    if (i < t.size() && (t[i] == '+' || t[i] == '-')) ++i;
    std::size_t ed = 0;
    while (i < t.size() && std::isdigit(static_cast<unsigned char>(t[i]))) ++i, ++ed;
    if (ed == 0) return std::nullopt;
  }
  if (i != t.size()) return std::nullopt;
  const std::string s(t);
  const double v = std::strtod(s.c_str(), nullptr);
  const std::int64_t r = RoundHalfEven(v);
  if (r < INT32_MIN || r > INT32_MAX || std::isinf(v)) return std::nullopt;
  return static_cast<std::int32_t>(r);
}

}  // namespace dbx
