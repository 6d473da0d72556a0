// Number conversion of quad-list tokens: 32-bit integers (decimal or hexadecimal) and
// decimal floating point converted at x87 extended precision, then rounded to float32.
#pragma once

#include <cstdint>
#include <cstring>
#include <string_view>

// Integer syntax: optional leading spaces, then an optional sign and decimal digits within the
// int32 range, or a hexadecimal number after '$', 'x', 'X', "0x" or "0X" of at most 32 bits
// (two's complement, no sign). Nothing may follow.
bool TryParseInt32(std::string_view text, int32_t& value);

// Float syntax: optional spaces, optional sign, digits, optional `decimalSeparator` and
// digits, optional 'E'/'e' with optional sign and digits, optional spaces. Converted at
// extended precision (round to nearest); fails beyond the extended range.
bool TryParseExtended(std::string_view text, char decimalSeparator, long double& value);

// The same, rounded to float32 (a value beyond the float32 range becomes an infinity).
bool TryParseFloat(std::string_view text, char decimalSeparator, float& value);

// mantissa / 10^fractionDigits rounded to float32 exactly as the extended conversion would,
// when that can be decided cheaply; false otherwise, and the caller converts the text instead.
// Mantissas below 2^53 and powers of ten up to 10^22 are exact doubles, so the quotient is a
// correctly rounded double. Unless that double lies exactly halfway between two floats, it
// rounds to the same float as the extended quotient: both lie on the same side of every such
// halfway point (25 significant bits, exact in both formats). Inline: the load calls it for
// every coordinate.
inline bool TryDecimalToFloat(uint64_t mantissa, int fractionDigits, bool negative, float& value) {
  constexpr uint64_t kExactDoubleMantissa = uint64_t(1) << 53;
  constexpr int kExactDoublePowerMax = 22;
  constexpr double kPowersOfTen[kExactDoublePowerMax + 1] = {
      1e0,  1e1,  1e2,  1e3,  1e4,  1e5,  1e6,  1e7,  1e8,  1e9,  1e10, 1e11,
      1e12, 1e13, 1e14, 1e15, 1e16, 1e17, 1e18, 1e19, 1e20, 1e21, 1e22};
  // A double exactly halfway between two normal floats: its 25th significant bit set and the
  // 28 bits below it clear.
  constexpr uint64_t kHalfwayMask = (uint64_t(1) << 29) - 1;
  constexpr uint64_t kHalfwayBits = uint64_t(1) << 28;
  if (mantissa >= kExactDoubleMantissa || fractionDigits < 0 ||
      fractionDigits > kExactDoublePowerMax) {
    return false;
  }
  const double quotient = static_cast<double>(mantissa) / kPowersOfTen[fractionDigits];
  uint64_t bits = 0;
  std::memcpy(&bits, &quotient, sizeof bits);
  if ((bits & kHalfwayMask) == kHalfwayBits) return false;
  const float rounded = static_cast<float>(quotient);
  value = negative ? -rounded : rounded;
  return true;
}

// Throwing forms with the user-visible messages "'%s' is not a valid integer value" and
// "'%s' is not a valid floating point value".
int32_t StrToInt(std::string_view text);
float StrToFloat(std::string_view text, char decimalSeparator = '.');
