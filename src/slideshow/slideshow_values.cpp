#include "slideshow/slideshow_values.h"

#include <cmath>
#include <cstdlib>

#include "effects/numeric.h"

namespace dbx {

std::vector<std::string> SplitKeepEmpty(std::string_view text, char separator) {
  std::vector<std::string> out;
  if (text.empty()) return out;
  std::size_t start = 0;
  for (;;) {
    const auto at = text.find(separator, start);
    if (at == std::string_view::npos) {
      out.emplace_back(text.substr(start));
      return out;
    }
    out.emplace_back(text.substr(start, at - start));
    start = at + 1;
  }
}

double LeadingNumber(std::string_view text) {
  std::string number;
  bool digits = false, point = false, exponent = false;
  for (char c : text) {
    if (c == ' ' || c == '\t' || c == '\n' || c == '\r') continue;
    if (c >= '0' && c <= '9') {
      number += c;
      digits = true;
    } else if ((c == '+' || c == '-') && (number.empty() || number.back() == 'e')) {
      number += c;
    } else if (c == '.' && !point && !exponent) {
      number += c;
      point = true;
    } else if ((c == 'e' || c == 'E' || c == 'd' || c == 'D') && digits && !exponent) {
      number += 'e';
      exponent = true;
    } else {
      break;
    }
    if (number.size() > 400) break;  // more digits change nothing a timer can hold
  }
  if (!digits) return 0.0;
  // A dangling exponent or sign is ignored, as the reader stops before it.
  while (!number.empty() &&
         (number.back() == 'e' || number.back() == '+' || number.back() == '-')) {
    number.pop_back();
  }
  const double v = std::strtod(number.c_str(), nullptr);
  return std::isfinite(v) ? v : 0.0;
}

std::optional<std::int64_t> IntervalMs(std::string_view text) {
  const double ms = LeadingNumber(text) * 1000.0;
  if (!(ms > 0) || ms > 2147483647.0) return std::nullopt;
  const std::int64_t whole = RoundHalfEven(ms);
  if (whole <= 0) return std::nullopt;
  return whole;
}

std::optional<std::int32_t> ParseSmallInteger(std::string_view text) {
  const auto v = ParseWholeNumber(text);
  if (!v || *v < -32768 || *v > 32767) return std::nullopt;
  return *v;
}

}  // namespace dbx
