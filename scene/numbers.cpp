// Integer and floating-point conversion of quad-list tokens. Floats are converted at x87
// extended precision (64-bit mantissa, round to nearest) and only then rounded to float32;
// short decimal tokens take an exact fast path that gives the same result as the full one.
#include "scene/numbers.h"

#include <locale.h>

#include <cfloat>
#include <clocale>
#include <cmath>
#include <cstdlib>
#include <cstring>
#include <string>

#include "scene/scene_error.h"

static_assert(LDBL_MANT_DIG == 64, "float conversion relies on the x87 80-bit long double");

namespace {

// Exponent digits are taken only while the exponent read so far is below this.
constexpr int kExponentDigitLimit = 500;
// Powers of ten up to 10^27 are exact in a 64-bit mantissa (5^27 < 2^64).
constexpr int kExactPowerOfTenMax = 27;
// A decimal mantissa of at most this many digits fits in a uint64 exactly.
constexpr int kFastMantissaDigits = 19;

const long double kPowersOfTen[kExactPowerOfTenMax + 1] = {
    1e0L,  1e1L,  1e2L,  1e3L,  1e4L,  1e5L,  1e6L,  1e7L,  1e8L,  1e9L,
    1e10L, 1e11L, 1e12L, 1e13L, 1e14L, 1e15L, 1e16L, 1e17L, 1e18L, 1e19L,
    1e20L, 1e21L, 1e22L, 1e23L, 1e24L, 1e25L, 1e26L, 1e27L};

bool IsDigit(char c) {
  return c >= '0' && c <= '9';
}

int HexDigitValue(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  return -1;
}

// strtold in the "C" locale, whatever locale the program has set for its own output.
locale_t CLocale() {
  static const locale_t cLocale = newlocale(LC_ALL_MASK, "C", static_cast<locale_t>(0));
  return cLocale;
}

// The pieces of a syntactically valid float token, as positions into the text.
struct FloatSyntax {
  bool negative = false;
  size_t intBegin = 0, intEnd = 0;    // integer digits
  size_t fracBegin = 0, fracEnd = 0;  // fraction digits
  bool exponentNegative = false;
  int exponent = 0;  // below 10 * kExponentDigitLimit by construction
};

bool ScanFloat(std::string_view text, char separator, FloatSyntax& syntax) {
  const size_t n = text.size();
  size_t i = 0;
  while (i < n && text[i] == ' ') ++i;
  if (i < n && (text[i] == '+' || text[i] == '-')) {
    syntax.negative = text[i] == '-';
    ++i;
  }
  syntax.intBegin = i;
  while (i < n && IsDigit(text[i])) ++i;
  syntax.intEnd = i;
  syntax.fracBegin = syntax.fracEnd = i;
  bool hasSeparator = false;
  if (i < n && text[i] == separator) {
    hasSeparator = true;
    syntax.fracBegin = ++i;
    while (i < n && IsDigit(text[i])) ++i;
    syntax.fracEnd = i;
  }
  // The mantissa needs a digit or the separator: "", "-" and "E5" fail, "." reads as 0.
  if (syntax.intEnd == syntax.intBegin && !hasSeparator) return false;
  if (i < n && (text[i] == 'E' || text[i] == 'e')) {
    ++i;
    if (i < n && (text[i] == '+' || text[i] == '-')) {
      syntax.exponentNegative = text[i] == '-';
      ++i;
    }
    while (i < n && IsDigit(text[i]) && syntax.exponent < kExponentDigitLimit) {
      syntax.exponent = syntax.exponent * 10 + (text[i] - '0');
      ++i;
    }
  }
  while (i < n && text[i] == ' ') ++i;
  return i == n;
}

// Exact when the mantissa has at most 19 significant digits and the power of ten is exact:
// one correctly rounded multiplication or division of two exact values.
bool TryFastConvert(std::string_view text, const FloatSyntax& s, long double& value) {
  uint64_t mantissa = 0;
  int digits = 0;
  auto addDigits = [&](size_t begin, size_t end) {
    for (size_t i = begin; i < end; ++i) {
      if (digits == 0 && text[i] == '0') continue;  // leading zeros carry no precision
      if (++digits > kFastMantissaDigits) return false;
      mantissa = mantissa * 10 + static_cast<uint64_t>(text[i] - '0');
    }
    return true;
  };
  if (!addDigits(s.intBegin, s.intEnd) || !addDigits(s.fracBegin, s.fracEnd)) return false;
  const int scale =
      (s.exponentNegative ? -s.exponent : s.exponent) - static_cast<int>(s.fracEnd - s.fracBegin);
  long double result = static_cast<long double>(mantissa);
  if (mantissa != 0) {
    if (scale > kExactPowerOfTenMax || scale < -kExactPowerOfTenMax) return false;
    result = scale >= 0 ? result * kPowersOfTen[scale] : result / kPowersOfTen[-scale];
  }
  value = s.negative ? -result : result;
  return true;
}

// Rewrites the token as "digits.digitsE<exp>" for strtold; fails beyond the extended range.
bool FullConvert(std::string_view text, const FloatSyntax& s, long double& value) {
  std::string normal;
  normal.reserve(text.size() + 16);
  if (s.negative) normal += '-';
  normal += '0';
  normal.append(text.data() + s.intBegin, s.intEnd - s.intBegin);
  normal += '.';
  normal.append(text.data() + s.fracBegin, s.fracEnd - s.fracBegin);
  normal += s.exponentNegative ? "e-" : "e";
  normal += std::to_string(s.exponent);
  errno = 0;
  char* end = nullptr;
  const long double result = strtold_l(normal.c_str(), &end, CLocale());
  if (std::isinf(result)) return false;
  value = result;
  return true;
}

}  // namespace

bool TryParseInt32(std::string_view text, int32_t& value) {
  const size_t n = text.size();
  size_t i = 0;
  while (i < n && text[i] == ' ') ++i;
  if (i == n) return false;
  const bool dollarOrX = text[i] == '$' || text[i] == 'x' || text[i] == 'X';
  const bool zeroX = text[i] == '0' && i + 1 < n && (text[i + 1] == 'x' || text[i + 1] == 'X');
  if (dollarOrX || zeroX) {
    i += zeroX ? 2 : 1;
    if (i == n) return false;
    uint64_t hex = 0;
    for (; i < n; ++i) {
      const int digit = HexDigitValue(text[i]);
      if (digit < 0) return false;
      hex = hex * 16 + static_cast<uint64_t>(digit);
      if (hex > 0xFFFFFFFFull) return false;
    }
    value = static_cast<int32_t>(static_cast<uint32_t>(hex));
    return true;
  }
  bool negative = false;
  if (text[i] == '+' || text[i] == '-') {
    negative = text[i] == '-';
    ++i;
  }
  if (i == n) return false;
  const uint64_t limit = negative ? 2147483648ull : 2147483647ull;
  uint64_t magnitude = 0;
  for (; i < n; ++i) {
    if (!IsDigit(text[i])) return false;
    magnitude = magnitude * 10 + static_cast<uint64_t>(text[i] - '0');
    if (magnitude > limit) return false;
  }
  value = negative ? static_cast<int32_t>(-static_cast<int64_t>(magnitude))
                   : static_cast<int32_t>(magnitude);
  return true;
}

bool TryParseExtended(std::string_view text, char decimalSeparator, long double& value) {
  FloatSyntax syntax;
  if (!ScanFloat(text, decimalSeparator, syntax)) return false;
  if (TryFastConvert(text, syntax, value)) return true;
  return FullConvert(text, syntax, value);
}

bool TryParseFloat(std::string_view text, char decimalSeparator, float& value) {
  // Hot path for plain decimals ("-12.345678"): one pass, then TryDecimalToFloat; every other
  // form, and every case it cannot decide, takes the extended route.
  const char* p = text.data();
  const char* const end = p + text.size();
  bool negative = false;
  if (p < end && (*p == '-' || *p == '+')) negative = *p++ == '-';
  const char* const digitsBegin = p;
  uint64_t mantissa = 0;
  while (p < end && IsDigit(*p)) mantissa = mantissa * 10 + static_cast<uint64_t>(*p++ - '0');
  const int integerDigits = static_cast<int>(p - digitsBegin);
  const char* fractionBegin = p;
  if (p < end && *p == decimalSeparator) {
    fractionBegin = ++p;
    while (p < end && IsDigit(*p)) mantissa = mantissa * 10 + static_cast<uint64_t>(*p++ - '0');
  }
  const int fractionDigits = static_cast<int>(p - fractionBegin);
  if (p == end && p > digitsBegin && integerDigits + fractionDigits <= kFastMantissaDigits &&
      TryDecimalToFloat(mantissa, fractionDigits, negative, value)) {
    return true;
  }
  long double extended = 0;
  if (!TryParseExtended(text, decimalSeparator, extended)) return false;
  value = static_cast<float>(extended);  // beyond float32 range: an infinity, no trap
  return true;
}

int32_t StrToInt(std::string_view text) {
  int32_t value = 0;
  if (!TryParseInt32(text, value)) {
    throw SceneError("'" + std::string(text) + "' is not a valid integer value");
  }
  return value;
}

float StrToFloat(std::string_view text, char decimalSeparator) {
  float value = 0;
  if (!TryParseFloat(text, decimalSeparator, value)) {
    throw SceneError("'" + std::string(text) + "' is not a valid floating point value");
  }
  return value;
}
