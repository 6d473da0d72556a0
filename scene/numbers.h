// Number conversion of quad-list tokens: 32-bit integers (decimal or hexadecimal) and
// decimal floating point converted at x87 extended precision, then rounded to float32.
// NumberText defines both syntaxes over text of any length in bounded memory; the plain
// decimal routes below are exact shortcuts for the common short tokens.
#pragma once

#include <cstdint>
#include <cstring>
#include <string>
#include <string_view>

// The text of one token, fed in pieces, checked against both number syntaxes at once.
// Memory stays bounded whatever the length: a float keeps its significant digits only up to
// the count that exact rounding at extended precision can need, plus whether any non-zero
// digit was dropped after them.
//
// Integer syntax: optional leading spaces, then an optional sign and decimal digits within the
// int32 range, or a hexadecimal number after '$', 'x', 'X', "0x" or "0X" of at most 32 bits
// (two's complement, no sign). Nothing may follow.
//
// Float syntax: optional spaces, optional sign, digits, optional separator and digits, optional
// 'E'/'e' with optional sign and digits, optional spaces; a digit or the separator must be
// there. Exponent digits are taken only while the exponent read so far is below 500.
class NumberText {
 public:
  explicit NumberText(char decimalSeparator = '.') : separator_(decimalSeparator) {}
  void Append(std::string_view piece);
  bool ToInt32(int32_t& value) const;
  // Round to nearest at extended precision; false beyond the extended range.
  bool ToExtended(long double& value) const;

 private:
  enum class IntState : uint8_t { kSpaces, kSign, kZero, kDecimal, kHexStart, kHex, kBad };
  enum class FloatState : uint8_t {
    kSpaces,
    kSign,
    kInteger,
    kFraction,
    kExponentMark,
    kExponentSign,
    kExponent,
    kTrailing,
    kBad
  };
  void AppendIntChar(char c);
  void AppendFloatChar(char c);
  bool AppendMantissaChar(char c);  // a digit or the separator; false for anything else
  bool AppendExponentChar(char c);  // an exponent digit or a trailing space
  void AddSignificant(char digit);

  char separator_;
  IntState intState_ = IntState::kSpaces;
  bool intNegative_ = false;
  uint64_t intMagnitude_ = 0;  // stops growing once beyond 32 bits
  FloatState floatState_ = FloatState::kSpaces;
  bool negative_ = false;
  std::string significant_;  // the significant digits, without leading zeros
  bool droppedNonZero_ = false;
  int64_t pointShift_ = 0;  // the value is 0.<significant_> * 10^pointShift_ * 10^exponent
  bool exponentNegative_ = false;
  int exponent_ = 0;
};

// Decimal digits that always fit a uint64 exactly.
constexpr int kUint64DecimalDigits = 19;

// Appends the decimal digits at `p` to `value` (value * 10 + digit) and returns where they
// end. The caller bounds the count: more than kUint64DecimalDigits may no longer fit.
inline const char* AccumulateDigits(const char* p, const char* end, uint64_t& value) {
  while (p < end && static_cast<unsigned char>(*p - '0') < 10u) {
    value = value * 10 + static_cast<uint64_t>(*p++ - '0');
  }
  return p;
}

// mantissa / 10^fractionDigits rounded to float32 exactly as the extended conversion would,
// when that can be decided cheaply; false otherwise, and the caller converts the text instead.
// Mantissas below 2^53 and powers of ten up to 10^22 are exact doubles, so the quotient is a
// correctly rounded double. Unless that double lies exactly halfway between two floats, it
// rounds to the same float as the extended quotient: both lie on the same side of every such
// halfway point (25 significant bits, exact in both formats).
// First, cheaper than the division, the mantissa times the double nearest 10^-fractionDigits:
// within three units in the last place of the exact quotient. Where that product lies more
// than four units from every halfway point, the exact quotient, and so the extended one,
// lies on its side of all of them, and rounds to the same float.
inline bool TryDecimalToFloat(uint64_t mantissa, int fractionDigits, bool negative, float& value) {
  constexpr uint64_t kExactDoubleMantissa = uint64_t(1) << 53;
  constexpr int kExactDoublePowerMax = 22;
  static constexpr double kPowersOfTen[kExactDoublePowerMax + 1] = {
      1e0,  1e1,  1e2,  1e3,  1e4,  1e5,  1e6,  1e7,  1e8,  1e9,  1e10, 1e11,
      1e12, 1e13, 1e14, 1e15, 1e16, 1e17, 1e18, 1e19, 1e20, 1e21, 1e22};
  static constexpr double kInversePowersOfTen[kExactDoublePowerMax + 1] = {
      1e0,   1e-1,  1e-2,  1e-3,  1e-4,  1e-5,  1e-6,  1e-7,  1e-8,  1e-9,  1e-10, 1e-11,
      1e-12, 1e-13, 1e-14, 1e-15, 1e-16, 1e-17, 1e-18, 1e-19, 1e-20, 1e-21, 1e-22};
  // A double exactly halfway between two normal floats: its 25th significant bit set and the
  // 28 bits below it clear.
  constexpr uint64_t kHalfwayMask = (uint64_t(1) << 29) - 1;
  constexpr uint64_t kHalfwayBits = uint64_t(1) << 28;
  constexpr uint64_t kProductMarginUnits = 4;
  constexpr uint64_t kExactFloatMantissa = uint64_t(1) << 24;
  if (fractionDigits == 0 && mantissa < kExactFloatMantissa) {  // a whole float, exactly
    const float whole = static_cast<float>(mantissa);
    value = negative ? -whole : whole;
    return true;
  }
  if (mantissa >= kExactDoubleMantissa || fractionDigits < 0 ||
      fractionDigits > kExactDoublePowerMax) {
    return false;
  }
  double quotient = static_cast<double>(mantissa) * kInversePowersOfTen[fractionDigits];
  uint64_t bits = 0;
  std::memcpy(&bits, &quotient, sizeof bits);
  if ((bits & kHalfwayMask) - (kHalfwayBits - kProductMarginUnits) <= 2 * kProductMarginUnits) {
    quotient = static_cast<double>(mantissa) / kPowersOfTen[fractionDigits];
    std::memcpy(&bits, &quotient, sizeof bits);
    if ((bits & kHalfwayMask) == kHalfwayBits) return false;
  }
  const float rounded = static_cast<float>(quotient);
  value = negative ? -rounded : rounded;
  return true;
}

// The common float token, "-12.345678": a sign, digits and an optional separator with digits.
// Reads it from `p` and returns where it stops (at the first byte that is not part of it);
// `value` is set and `decided` true only when the exact shortcut applies. The caller checks
// what follows and otherwise converts the whole token with NumberText.
inline const char* ScanPlainDecimal(const char* p, const char* end, char separator, float& value,
                                    bool& decided) {
  bool negative = false;
  if (p < end && (*p == '-' || *p == '+')) negative = *p++ == '-';
  uint64_t mantissa = 0;
  const char* const digitsBegin = p;
  p = AccumulateDigits(p, end, mantissa);
  const int integerDigits = static_cast<int>(p - digitsBegin);
  int fractionDigits = 0;
  bool point = false;
  if (p < end && *p == separator) {
    point = true;
    const char* const fractionBegin = ++p;
    p = AccumulateDigits(p, end, mantissa);
    fractionDigits = static_cast<int>(p - fractionBegin);
  }
  decided = (integerDigits + fractionDigits > 0 || point) &&
            integerDigits + fractionDigits <= kUint64DecimalDigits &&
            TryDecimalToFloat(mantissa, fractionDigits, negative, value);
  return p;
}

bool TryParseInt32(std::string_view text, int32_t& value);
bool TryParseExtended(std::string_view text, char decimalSeparator, long double& value);
// The extended value rounded to float32 (beyond the float32 range: an infinity).
bool TryParseFloat(std::string_view text, char decimalSeparator, float& value);

// The user-visible messages "'%s' is not a valid integer value" and "'%s' is not a valid
// floating point value", the text quoted as file content is (QuoteContent).
std::string NotAnIntegerMessage(std::string_view text);
std::string NotAFloatMessage(std::string_view text);

// The shortest decimal text that reads back to `value` under correct rounding (std::to_chars,
// so "0.1", "1e-07", "inf"), and a whole number's text, appended to `out`.
void AppendShortestFloat(std::string& out, float value);
void AppendInteger(std::string& out, int64_t value);

// Throwing forms: SceneError with the messages above.
int32_t StrToInt(std::string_view text);
float StrToFloat(std::string_view text, char decimalSeparator = '.');
