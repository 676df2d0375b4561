// Small numeric helpers shared by the effects and the gradient painter: rounding to the nearest
// whole number with a half to the even neighbour and the conversion of a
// setting's text into a whole number.
#pragma once

#include <cmath>
#include <cstdint>
#include <optional>
#include <string_view>

namespace dbx {

// Nearest whole number, a half going to the even neighbour (2.5 -> 2, 3.5 -> 4, -0.5 -> 0).
// Values beyond the 64-bit range saturate; NaN gives 0.
inline std::int64_t RoundHalfEven(double v) {
  if (std::isnan(v)) return 0;
  if (v >= 9.2e18) return INT64_MAX;
  if (v <= -9.2e18) return INT64_MIN;
  const double fl = std::floor(v);
  const double diff = v - fl;
  auto r = static_cast<std::int64_t>(fl);
  if (diff > 0.5 || (diff == 0.5 && (r % 2 != 0))) ++r;
  return r;
}

// Floor division of whole numbers (rounds towards minus infinity), b > 0.
inline std::int64_t FloorDiv(std::int64_t a, std::int64_t b) {
  std::int64_t q = a / b;
  if ((a % b != 0) && (a < 0)) --q;
  return q;
}
inline std::int64_t CeilDiv(std::int64_t a, std::int64_t b) {
  return -FloorDiv(-a, b);
}

// The largest whole r with r² <= v (v >= 0).
inline std::int64_t ISqrt(std::int64_t v) {
  auto r = static_cast<std::int64_t>(std::sqrt(static_cast<double>(v)));
  while (r > 0 && static_cast<__int128>(r) * r > v) --r;
  while (static_cast<__int128>(r + 1) * (r + 1) <= v) ++r;
  return r;
}

// The square root of v >= 0 rounded to the nearest whole number, a half up (the root never lies
// halfway: r + 1 exactly when v > r² + r).
inline std::int64_t RoundedSqrt(std::int64_t v) {
  const std::int64_t r = ISqrt(v);
  return v > r * r + r ? r + 1 : r;
}

// The whole-number value of a setting's text as the settings' conversion to a 32-bit
// integer takes it: spaces around it are ignored; an optional sign, digits with an optional
// fraction and an optional exponent; a fraction is rounded half to even. Nothing for a text that is
// not a number or lies outside the 32-bit range.
std::optional<std::int32_t> ParseWholeNumber(std::string_view text);

}  // namespace dbx
