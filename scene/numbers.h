// Number conversion of quad-list tokens: 32-bit integers (decimal or hexadecimal) and
// decimal floating point converted at x87 extended precision, then rounded to float32.
#pragma once

#include <cstdint>
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
// when that can be decided cheaply (mantissa below 2^53, fractionDigits at most 22, and no
// tie between two floats); false otherwise, and the caller converts the text instead.
bool TryDecimalToFloat(uint64_t mantissa, int fractionDigits, bool negative, float& value);

// Throwing forms with the user-visible messages "'%s' is not a valid integer value" and
// "'%s' is not a valid floating point value".
int32_t StrToInt(std::string_view text);
float StrToFloat(std::string_view text, char decimalSeparator = '.');
