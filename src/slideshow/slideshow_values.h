// How the slideshow reads its settings' texts: lists split with empty pieces kept, and numbers.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace dbx {

// Splits at every occurrence of `separator`, keeping empty pieces; the empty text gives no pieces.
std::vector<std::string> SplitKeepEmpty(std::string_view text, char separator);

// The number at the start of a text, read the forgiving way: white space anywhere is
// skipped, then an optional sign, digits, a decimal point and an exponent; reading stops at the
// first character that does not fit. 0 when the text does not begin with a number.
double LeadingNumber(std::string_view text);

// The step timer's period for a "SaverInterval" text: its leading number of seconds in whole
// milliseconds (halves to even). Nothing when the timer cannot run: 0, negative, or beyond what a
// timer can wait (about 24.8 days).
std::optional<std::int64_t> IntervalMs(std::string_view text);

// A 16-bit whole number (an effect list entry); nothing for a text that is not one.
std::optional<std::int32_t> ParseSmallInteger(std::string_view text);

}  // namespace dbx
