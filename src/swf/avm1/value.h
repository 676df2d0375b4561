// Script values and the conversions between them. The rules change with the movie's version
// (SWF 4 to 10), so every conversion takes it.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

namespace dbx::swf::avm1 {

class Object;

enum class Type : std::uint8_t { kUndefined, kNull, kBoolean, kNumber, kString, kObject };

struct Value {
  Type type = Type::kUndefined;
  union {
    bool b;
    double n;
    Object* o;
  };
  std::string s;

  Value() : n(0) {}
  Value(bool v) : type(Type::kBoolean), b(v) {}   // NOLINT(google-explicit-constructor)
  Value(double v) : type(Type::kNumber), n(v) {}  // NOLINT
  Value(int v) : type(Type::kNumber), n(v) {}     // NOLINT
  Value(std::string v) : type(Type::kString), n(0), s(std::move(v)) {}  // NOLINT
  Value(const char* v) : type(Type::kString), n(0), s(v) {}             // NOLINT
  Value(Object* v) : type(v ? Type::kObject : Type::kNull), o(v) {}     // NOLINT
  static Value Null() {
    Value v;
    v.type = Type::kNull;
    return v;
  }

  bool IsUndefined() const { return type == Type::kUndefined; }
  bool IsNull() const { return type == Type::kNull; }
  bool IsNullish() const { return type == Type::kUndefined || type == Type::kNull; }
  bool IsObject() const { return type == Type::kObject; }
  bool IsString() const { return type == Type::kString; }
  bool IsNumber() const { return type == Type::kNumber; }
  Object* AsObject() const { return type == Type::kObject ? o : nullptr; }
};

// The number as the player prints it: at most 15 significant digits, exponent form below 1e-5
// and from 1e15 on, "NaN", "Infinity", "-Infinity".
std::string NumberToString(double n);
// A number in another radix (2..36), as Number.prototype.toString(radix) prints integers.
std::string NumberToRadixString(double n, int radix);
// Text to number: decimal with optional sign, fraction and exponent, "0x" hex from SWF 6 on,
// surrounding white space allowed; anything else is NaN (SWF 5 on) or its numeric prefix
// (SWF 4, where an empty or non-numeric text is 0).
double StringToNumber(std::string_view s, int version);
// ECMA ToInt32 / ToUint32.
std::int32_t ToInt32(double n);
std::uint32_t ToUint32(double n);

// A script number as an int for frame numbers, depths and property indices: NaN is 0, and the
// range is kept to +-2^30 so that adding an offset cannot overflow.
int ClampToInt(double n);

// Conversions that need no object: for objects the caller first takes the primitive value.
double PrimitiveToNumber(const Value& v, int version);
std::string PrimitiveToString(const Value& v, int version);
bool ToBoolean(const Value& v, int version);

// Strings are kept as UTF-8; from SWF 6 on, script indexes them in UTF-16 code units (a
// character beyond the basic plane counts two). Before SWF 6 a unit is a byte.
std::u16string ToUnits(std::string_view s, int version);
// Back to text. A surrogate without its pair is kept, as the three bytes UTF-8 would give its
// code (so that text can be cut between the halves of a pair and joined again).
std::string FromUnits(std::u16string_view u, int version);
// a + b: the first half of a surrogate pair at the end of `a` and the second half at the start
// of `b` join into the one character they stand for.
std::string JoinText(std::string a, std::string_view b);
// The text with each surrogate left without its pair as U+FFFD: what leaves the player (traces).
std::string WellFormed(std::string_view s);
std::size_t UnitLength(std::string_view s, int version);
// Text order: by character code (a pair of surrogates counts as the character it stands for).
bool TextLess(std::string_view a, std::string_view b, int version);

// The player's case mapping of one UTF-16 unit (toLowerCase, toUpperCase).
char16_t LowerUnit(char16_t c);
char16_t UpperUnit(char16_t c);
// Case folding of property names before SWF 7: the lower case of every character.
std::string FoldCase(std::string_view s);
bool EqualsFolded(std::string_view a, std::string_view b);

}  // namespace dbx::swf::avm1
