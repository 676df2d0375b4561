#include "swf/avm1/value.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <limits>
#include <vector>

#include "core/utf8.h"

namespace dbx::swf::avm1 {

std::string NumberToString(double n) {
  if (std::isnan(n)) return "NaN";
  if (std::isinf(n)) return n > 0 ? "Infinity" : "-Infinity";
  if (n == 0) return "0";
  if (std::fabs(n) < 1e15 && n == std::trunc(n)) {
    auto u = static_cast<std::uint64_t>(std::fabs(n));
    char buf[24];
    char* end = buf + sizeof buf;
    char* p = end;
    do {
      *--p = static_cast<char>('0' + u % 10);
      u /= 10;
    } while (u);
    if (n < 0) *--p = '-';
    return std::string(p, end);
  }
  // 15 significant digits, correctly rounded: "d.dddddddddddddde+XX".
  char buf[40];
  std::snprintf(buf, sizeof buf, "%.14e", n);
  // Near the top of the range rounding up can give a number no double holds (1.79769313486232e308
  // is beyond the largest); the digits are then cut instead, so the text stays a finite number.
  if (std::isinf(std::strtod(buf, nullptr))) {
    std::snprintf(buf, sizeof buf, "%.20e", n);
    const char* e = std::strchr(buf, 'e');
    std::memmove(buf + (n < 0 ? 17 : 16), e, std::strlen(e) + 1);
  }
  std::string text = buf;
  bool negative = text[0] == '-';
  std::size_t at = negative ? 1 : 0;
  std::size_t e = text.find('e');
  std::string digits;
  for (std::size_t i = at; i < e; ++i)
    if (text[i] != '.') digits += text[i];
  int exp = std::atoi(text.c_str() + e + 1);
  while (digits.size() > 1 && digits.back() == '0') digits.pop_back();
  std::string out;
  if (negative) out.push_back('-');
  if (exp < -5 || exp >= 15) {
    out.push_back(digits[0]);
    if (digits.size() > 1) {
      out.push_back('.');
      out.append(digits, 1, std::string::npos);
    }
    out.append(exp < 0 ? "e-" : "e+");
    out.append(std::to_string(std::abs(exp)));
  } else if (exp < 0) {
    out.append("0.");
    out.append(static_cast<std::size_t>(-exp - 1), '0');
    out.append(digits);
  } else {
    auto intLen = static_cast<std::size_t>(exp) + 1;
    if (digits.size() <= intLen) {
      out.append(digits);
      out.append(intLen - digits.size(), '0');
    } else {
      out.append(digits, 0, intLen);
      out.push_back('.');
      out.append(digits, intLen, std::string::npos);
    }
  }
  return out;
}

std::string NumberToRadixString(double n, int radix) {
  if (radix >= 2 && radix <= 36 && radix != 10 && std::isnan(n)) {
    // The player takes NaN as the lowest 32-bit integer, whose negation is itself, and writes
    // its digits from the negative remainders, each added to '0': a fixed string per radix.
    std::int32_t i = std::numeric_limits<std::int32_t>::min();
    std::string out;
    do {
      out.insert(out.begin(), static_cast<char>('0' + i % radix));
      i /= radix;
    } while (i != 0);
    return "-" + out;
  }
  if (radix == 10 || radix < 2 || radix > 36 || !std::isfinite(n)) return NumberToString(n);
  // Integers only, as a 32-bit value; negative numbers keep their sign.
  std::int32_t i = ToInt32(n);
  bool negative = i < 0;
  std::uint64_t u = negative ? static_cast<std::uint64_t>(-static_cast<std::int64_t>(i))
                             : static_cast<std::uint64_t>(i);
  std::string out;
  do {
    int d = static_cast<int>(u % static_cast<unsigned>(radix));
    out.insert(out.begin(), static_cast<char>(d < 10 ? '0' + d : 'a' + d - 10));
    u /= static_cast<unsigned>(radix);
  } while (u);
  if (negative) out.insert(out.begin(), '-');
  return out;
}

namespace {

bool IsSpace(char c) {
  return c == ' ' || c == '\t' || c == '\n' || c == '\r' || c == '\f' || c == '\v';
}

// Reads the longest decimal number at the start of `s`; returns the characters used (0: none).
std::size_t ParseDecimal(std::string_view s, double& out) {
  std::size_t i = 0;
  if (i < s.size() && (s[i] == '+' || s[i] == '-')) ++i;
  std::size_t digitsStart = i;
  bool any = false;
  while (i < s.size() && s[i] >= '0' && s[i] <= '9') ++i, any = true;
  if (i < s.size() && s[i] == '.') {
    ++i;
    while (i < s.size() && s[i] >= '0' && s[i] <= '9') ++i, any = true;
  }
  if (!any) return 0;
  std::size_t end = i;
  if (i < s.size() && (s[i] == 'e' || s[i] == 'E')) {
    std::size_t j = i + 1;
    if (j < s.size() && (s[j] == '+' || s[j] == '-')) ++j;
    if (j < s.size() && s[j] >= '0' && s[j] <= '9') {
      while (j < s.size() && s[j] >= '0' && s[j] <= '9') ++j;
      end = j;
    }
  }
  (void)digitsStart;
  std::string copy(s.substr(0, end));
  out = std::strtod(copy.c_str(), nullptr);
  return end;
}

}  // namespace

double StringToNumber(std::string_view s, int version) {
  const double nan = std::numeric_limits<double>::quiet_NaN();
  std::size_t i = 0;
  while (i < s.size() && IsSpace(s[i])) ++i;
  std::string_view rest = s.substr(i);
  if (version < 5) {
    double v = 0;
    return ParseDecimal(rest, v) ? v : 0;
  }
  if (rest.empty()) return nan;
  if (version >= 6 && rest.size() > 2 && rest[0] == '0' && (rest[1] == 'x' || rest[1] == 'X')) {
    std::uint32_t v = 0;
    for (std::size_t k = 2; k < rest.size(); ++k) {
      char c = rest[k];
      int d = c >= '0' && c <= '9'   ? c - '0'
              : c >= 'a' && c <= 'f' ? c - 'a' + 10
              : c >= 'A' && c <= 'F' ? c - 'A' + 10
                                     : -1;
      if (d < 0) return nan;
      v = v * 16 + static_cast<std::uint32_t>(d);
    }
    return static_cast<double>(static_cast<std::int32_t>(v));
  }
  std::string_view body = rest;
  bool neg = false;
  std::string_view unsignedBody = body;
  if (!unsignedBody.empty() && (unsignedBody[0] == '-' || unsignedBody[0] == '+')) {
    neg = unsignedBody[0] == '-';
    unsignedBody.remove_prefix(1);
  }
  // "010" is octal from SWF 6 on (not after white space), wrapped to 32 bits like hex.
  if (version >= 6 && i == 0 && unsignedBody.size() > 1 && unsignedBody[0] == '0') {
    bool octal = true;
    std::uint32_t o = 0;
    for (char c : unsignedBody) {
      if (c < '0' || c > '7') {
        octal = false;
        break;
      }
      o = o * 8 + static_cast<std::uint32_t>(c - '0');
    }
    if (octal) {
      double w = static_cast<std::int32_t>(o);
      return neg ? -w : w;
    }
  }
  double v = 0;
  std::size_t used = ParseDecimal(body, v);
  if (!used) return nan;
  return used == body.size() ? v : nan;
}

std::int32_t ToInt32(double n) {
  if (!std::isfinite(n)) return 0;
  double m = std::fmod(std::trunc(n), 4294967296.0);
  if (m < 0) m += 4294967296.0;
  return static_cast<std::int32_t>(static_cast<std::uint32_t>(m));
}

std::uint32_t ToUint32(double n) {
  return static_cast<std::uint32_t>(ToInt32(n));
}

double PrimitiveToNumber(const Value& v, int version) {
  switch (v.type) {
    case Type::kUndefined:
    case Type::kNull:
      return version >= 7 ? std::numeric_limits<double>::quiet_NaN() : 0;
    case Type::kBoolean:
      return v.b ? 1 : 0;
    case Type::kNumber:
      return v.n;
    case Type::kString:
      return StringToNumber(v.s, version);
    case Type::kObject:
      return std::numeric_limits<double>::quiet_NaN();
  }
  return 0;
}

std::string PrimitiveToString(const Value& v, int version) {
  switch (v.type) {
    case Type::kUndefined:
      return version >= 7 ? "undefined" : "";
    case Type::kNull:
      return "null";
    case Type::kBoolean:
      if (version < 5) return v.b ? "1" : "0";
      return v.b ? "true" : "false";
    case Type::kNumber:
      return NumberToString(v.n);
    case Type::kString:
      return v.s;
    case Type::kObject:
      return "[object Object]";
  }
  return "";
}

bool ToBoolean(const Value& v, int version) {
  switch (v.type) {
    case Type::kUndefined:
    case Type::kNull:
      return false;
    case Type::kBoolean:
      return v.b;
    case Type::kNumber:
      return v.n != 0 && !std::isnan(v.n);
    case Type::kString:
      if (version >= 7) return !v.s.empty();
      {
        double d = StringToNumber(v.s, version);
        return d != 0 && !std::isnan(d);
      }
    case Type::kObject:
      return true;
  }
  return false;
}

std::string FoldCase(std::string_view s) {
  std::string out(s);
  bool ascii = true;
  for (char& c : out) {
    if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
    if (static_cast<unsigned char>(c) >= 0x80) ascii = false;
  }
  if (ascii) return out;
  std::u16string u = ToUnits(s, 6);
  for (char16_t& c : u) c = LowerUnit(c);
  return FromUnits(u, 6);
}

bool EqualsFolded(std::string_view a, std::string_view b) {
  bool ascii = true;
  if (a.size() == b.size()) {
    for (std::size_t i = 0; i < a.size(); ++i) {
      char x = a[i], y = b[i];
      if (static_cast<unsigned char>(x) >= 0x80 || static_cast<unsigned char>(y) >= 0x80) {
        ascii = false;
        break;
      }
      if (x >= 'A' && x <= 'Z') x = static_cast<char>(x - 'A' + 'a');
      if (y >= 'A' && y <= 'Z') y = static_cast<char>(y - 'A' + 'a');
      if (x != y) return false;
    }
    if (ascii) return true;
  } else {
    // Texts of different byte lengths can still fold alike only beyond ASCII.
    auto isAscii = [](std::string_view t) {
      for (char c : t)
        if (static_cast<unsigned char>(c) >= 0x80) return false;
      return true;
    };
    if (isAscii(a) || isAscii(b)) return false;
  }
  return FoldCase(a) == FoldCase(b);
}

int ClampToInt(double n) {
  if (std::isnan(n)) return 0;
  constexpr double kLimit = 1073741824.0;
  return static_cast<int>(std::clamp(std::trunc(n), -kLimit, kLimit));
}

std::u16string ToUnits(std::string_view s, int version) {
  std::u16string u;
  u.reserve(s.size());
  if (version < 6) {
    for (char c : s) u.push_back(static_cast<unsigned char>(c));
    return u;
  }
  std::size_t i = 0;
  while (i < s.size()) {
    auto b0 = static_cast<unsigned char>(s[i]);
    int extra = b0 >= 0xF0 && b0 < 0xF8 ? 3 : b0 >= 0xE0 ? 2 : b0 >= 0xC0 ? 1 : 0;
    if (b0 >= 0xF8) extra = 0;
    std::uint32_t cp = extra == 3 ? b0 & 7u : extra == 2 ? b0 & 15u : extra == 1 ? b0 & 31u : b0;
    bool ok = extra > 0;
    if (ok)
      for (int k = 1; k <= extra; ++k) {
        if (i + static_cast<std::size_t>(k) >= s.size() ||
            (static_cast<unsigned char>(s[i + static_cast<std::size_t>(k)]) & 0xC0) != 0x80) {
          ok = false;
          break;
        }
        cp = (cp << 6) | (static_cast<unsigned char>(s[i + static_cast<std::size_t>(k)]) & 0x3Fu);
      }
    if (!ok) {  // a byte that starts no sequence stands for itself
      u.push_back(b0);
      ++i;
      continue;
    }
    i += static_cast<std::size_t>(extra) + 1;
    if (cp >= 0x10000 && cp <= 0x10FFFF) {
      cp -= 0x10000;
      u.push_back(static_cast<char16_t>(0xD800 + (cp >> 10)));
      u.push_back(static_cast<char16_t>(0xDC00 + (cp & 0x3FF)));
    } else {
      u.push_back(static_cast<char16_t>(cp > 0xFFFF ? 0xFFFD : cp));
    }
  }
  return u;
}

std::string FromUnits(std::u16string_view u, int version) {
  std::string s;
  s.reserve(u.size());
  if (version < 6) {
    for (char16_t c : u) s.push_back(static_cast<char>(c & 0xFF));
    return s;
  }
  for (std::size_t i = 0; i < u.size(); ++i) {
    std::uint32_t cp = u[i];
    if (cp >= 0xD800 && cp <= 0xDBFF && i + 1 < u.size() && u[i + 1] >= 0xDC00 &&
        u[i + 1] <= 0xDFFF) {
      cp = 0x10000 + ((cp - 0xD800) << 10) + (u[i + 1] - 0xDC00u);
      ++i;
    }
    AppendUtf8(s, cp);
  }
  return s;
}

namespace {

// The surrogate (0xD800-0xDFFF) whose three bytes start at `p`, or 0.
std::uint32_t SurrogateAt(std::string_view s, std::size_t at) {
  if (at + 3 > s.size() || static_cast<unsigned char>(s[at]) != 0xED) return 0;
  const auto b1 = static_cast<unsigned char>(s[at + 1]), b2 = static_cast<unsigned char>(s[at + 2]);
  if (b1 < 0xA0 || b1 > 0xBF || (b2 & 0xC0) != 0x80) return 0;
  return 0xD000u | ((b1 & 0x3Fu) << 6) | (b2 & 0x3Fu);
}

}  // namespace

std::string JoinText(std::string a, std::string_view b) {
  const std::uint32_t high = a.size() >= 3 ? SurrogateAt(a, a.size() - 3) : 0;
  const std::uint32_t low = SurrogateAt(b, 0);
  if (high >= 0xD800 && high <= 0xDBFF && low >= 0xDC00) {
    a.resize(a.size() - 3);
    AppendUtf8(a, 0x10000 + ((high - 0xD800) << 10) + (low - 0xDC00));
    a.append(b.substr(3));
    return a;
  }
  a.append(b);
  return a;
}

std::string WellFormed(std::string_view s) {
  if (s.find('\xED') == std::string_view::npos) return std::string(s);
  std::string out;
  out.reserve(s.size());
  for (std::size_t i = 0; i < s.size();) {
    if (SurrogateAt(s, i)) {
      out += "\xEF\xBF\xBD";
      i += 3;
    } else {
      out.push_back(s[i++]);
    }
  }
  return out;
}

std::size_t UnitLength(std::string_view s, int version) {
  if (version < 6) return s.size();
  bool ascii = true;
  for (char c : s)
    if (static_cast<unsigned char>(c) >= 0x80) {
      ascii = false;
      break;
    }
  return ascii ? s.size() : ToUnits(s, version).size();
}

bool TextLess(std::string_view a, std::string_view b, int version) {
  auto ascii = [](std::string_view s) {
    for (char c : s)
      if (static_cast<unsigned char>(c) >= 0x80) return false;
    return true;
  };
  if (version < 6 || (ascii(a) && ascii(b))) return a < b;
  auto codes = [&](std::string_view s) {
    std::u16string u = ToUnits(s, version);
    std::vector<std::uint32_t> out;
    out.reserve(u.size());
    for (std::size_t i = 0; i < u.size(); ++i) {
      std::uint32_t c = u[i];
      if (c >= 0xD800 && c <= 0xDBFF && i + 1 < u.size() && u[i + 1] >= 0xDC00 &&
          u[i + 1] <= 0xDFFF) {
        c = 0x10000 + ((c - 0xD800) << 10) + (u[i + 1] - 0xDC00u);
        ++i;
      }
      out.push_back(c);
    }
    return out;
  };
  return codes(a) < codes(b);
}

}  // namespace dbx::swf::avm1
