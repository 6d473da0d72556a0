// Integer and floating-point conversion of quad-list tokens. Floats are converted at x87
// extended precision (64-bit mantissa, round to nearest) and only then rounded to float32;
// short tokens take exact shortcuts that give the same results as the full conversion.
#include "scene/numbers.h"

#include <locale.h>

#include <cfloat>
#include <charconv>
#include <clocale>
#include <cmath>
#include <cstdlib>
#include <cstring>

#include "scene/scene_error.h"

static_assert(LDBL_MANT_DIG == 64, "float conversion relies on the x87 80-bit long double");

namespace {

// Exponent digits are taken only while the exponent read so far is below this.
constexpr int kExponentDigitLimit = 500;
// Significant digits that decide the rounding of every extended value: the halfway points
// between neighbouring extended values have at most about 11,500 significant digits (those
// below the smallest normal), so digits past this many can only matter as "something
// non-zero follows", which one extra digit 1 stands for.
constexpr size_t kHeldSignificantDigits = 12000;
// Powers of ten up to 10^27 are exact in a 64-bit mantissa (5^27 < 2^64).
constexpr int kExactPowerOfTenMax = 27;
// Decimal digits that always fit an int32 magnitude check in a uint64.
constexpr int kShortIntegerDigits = 18;
constexpr uint64_t kIntMagnitudeCap = uint64_t(1) << 33;

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

}  // namespace

void NumberText::Append(std::string_view piece) {
  for (const char c : piece) {
    if (intState_ != IntState::kBad) AppendIntChar(c);
    if (floatState_ != FloatState::kBad) AppendFloatChar(c);
    if (intState_ == IntState::kBad && floatState_ == FloatState::kBad) return;
  }
}

void NumberText::AppendIntChar(char c) {
  auto addDecimal = [this](char digit) {
    if (intMagnitude_ < kIntMagnitudeCap) intMagnitude_ = intMagnitude_ * 10 + (digit - '0');
  };
  switch (intState_) {
    case IntState::kSpaces:
      if (c == ' ') return;
      if (c == '$' || c == 'x' || c == 'X') {
        intState_ = IntState::kHexStart;
      } else if (c == '0') {
        intState_ = IntState::kZero;
      } else if (IsDigit(c)) {
        intState_ = IntState::kDecimal;
        addDecimal(c);
      } else if (c == '+' || c == '-') {
        intNegative_ = c == '-';
        intState_ = IntState::kSign;
      } else {
        intState_ = IntState::kBad;
      }
      return;
    case IntState::kSign:
    case IntState::kDecimal:
    case IntState::kZero:
      if (IsDigit(c)) {
        intState_ = IntState::kDecimal;
        addDecimal(c);
      } else if (intState_ == IntState::kZero && (c == 'x' || c == 'X')) {
        intState_ = IntState::kHexStart;
      } else {
        intState_ = IntState::kBad;
      }
      return;
    case IntState::kHexStart:
    case IntState::kHex: {
      const int digit = HexDigitValue(c);
      intMagnitude_ = intMagnitude_ * 16 + static_cast<uint64_t>(digit);
      intState_ = digit < 0 || intMagnitude_ > 0xFFFFFFFFull ? IntState::kBad : IntState::kHex;
      return;
    }
    case IntState::kBad:
      return;
  }
}

void NumberText::AddSignificant(char digit) {
  if (significant_.size() < kHeldSignificantDigits) {
    significant_ += digit;
  } else if (digit != '0') {
    droppedNonZero_ = true;
  }
}

bool NumberText::AppendMantissaChar(char c) {
  if (IsDigit(c)) {
    if (floatState_ == FloatState::kFraction) {
      // Zeros before the first significant fraction digit move the point left.
      if (significant_.empty() && c == '0') {
        --pointShift_;
      } else {
        AddSignificant(c);
      }
      return true;
    }
    floatState_ = FloatState::kInteger;
    // Leading zeros carry nothing; every later integer digit moves the point right.
    if (!significant_.empty() || c != '0') {
      AddSignificant(c);
      ++pointShift_;
    }
    return true;
  }
  if (c == separator_ && floatState_ != FloatState::kFraction) {
    floatState_ = FloatState::kFraction;
    return true;
  }
  return false;
}

bool NumberText::AppendExponentChar(char c) {
  if (IsDigit(c)) {
    // Once the exponent has reached the limit a further digit is left unread, and an
    // unread character fails the token.
    if (exponent_ >= kExponentDigitLimit) return false;
    exponent_ = exponent_ * 10 + (c - '0');
    floatState_ = FloatState::kExponent;
    return true;
  }
  if (c == ' ') {
    floatState_ = FloatState::kTrailing;
    return true;
  }
  return false;
}

void NumberText::AppendFloatChar(char c) {
  bool taken = false;
  switch (floatState_) {
    case FloatState::kSpaces:
      if (c == ' ') return;
      if (c == '+' || c == '-') {
        negative_ = c == '-';
        floatState_ = FloatState::kSign;
        return;
      }
      taken = AppendMantissaChar(c);
      break;
    case FloatState::kSign:
      taken = AppendMantissaChar(c);
      break;
    case FloatState::kInteger:
    case FloatState::kFraction:
      taken = AppendMantissaChar(c);
      if (!taken && (c == 'E' || c == 'e')) {
        floatState_ = FloatState::kExponentMark;
        taken = true;
      } else if (!taken && c == ' ') {
        floatState_ = FloatState::kTrailing;
        taken = true;
      }
      break;
    case FloatState::kExponentMark:
      if (c == '+' || c == '-') {
        exponentNegative_ = c == '-';
        floatState_ = FloatState::kExponentSign;
        return;
      }
      taken = AppendExponentChar(c);
      break;
    case FloatState::kExponentSign:
    case FloatState::kExponent:
      taken = AppendExponentChar(c);
      break;
    case FloatState::kTrailing:
      taken = c == ' ';
      break;
    case FloatState::kBad:
      return;
  }
  if (!taken) floatState_ = FloatState::kBad;
}

bool NumberText::ToInt32(int32_t& value) const {
  switch (intState_) {
    case IntState::kZero:
      value = 0;
      return true;
    case IntState::kDecimal: {
      const uint64_t limit = intNegative_ ? 2147483648ull : 2147483647ull;
      if (intMagnitude_ > limit) return false;
      value = intNegative_ ? static_cast<int32_t>(-static_cast<int64_t>(intMagnitude_))
                           : static_cast<int32_t>(intMagnitude_);
      return true;
    }
    case IntState::kHex:
      value = static_cast<int32_t>(static_cast<uint32_t>(intMagnitude_));
      return true;
    default:
      return false;
  }
}

bool NumberText::ToExtended(long double& value) const {
  switch (floatState_) {
    case FloatState::kInteger:
    case FloatState::kFraction:
    case FloatState::kExponentMark:
    case FloatState::kExponentSign:
    case FloatState::kExponent:
    case FloatState::kTrailing:
      break;
    default:
      return false;  // nothing, a lone sign, a bad character
  }
  if (significant_.empty()) {
    value = negative_ ? -0.0L : 0.0L;
    return true;
  }
  const int64_t exponent10 = pointShift_ + (exponentNegative_ ? -exponent_ : exponent_);
  const int64_t scale = exponent10 - static_cast<int64_t>(significant_.size());
  if (significant_.size() <= kUint64DecimalDigits && !droppedNonZero_ &&
      scale >= -kExactPowerOfTenMax && scale <= kExactPowerOfTenMax) {
    // One correctly rounded multiplication or division of two exact values.
    uint64_t mantissa = 0;
    AccumulateDigits(significant_.data(), significant_.data() + significant_.size(), mantissa);
    long double result = static_cast<long double>(mantissa);
    result = scale >= 0 ? result * kPowersOfTen[scale] : result / kPowersOfTen[-scale];
    value = negative_ ? -result : result;
    return true;
  }
  std::string normal = negative_ ? "-0." : "0.";
  normal += significant_;
  if (droppedNonZero_) normal += '1';
  normal += 'e';
  normal += std::to_string(exponent10);
  const long double result = strtold_l(normal.c_str(), nullptr, CLocale());
  if (std::isinf(result)) return false;  // beyond the extended range
  value = result;
  return true;
}

bool TryParseInt32(std::string_view text, int32_t& value) {
  // Shortcut for the common "-123": a sign and at most 18 digits, nothing else.
  const char* p = text.data();
  const char* const end = p + text.size();
  const bool negative = p < end && *p == '-';
  if (p < end && (*p == '-' || *p == '+')) ++p;
  uint64_t magnitude = 0;
  const char* const digitsEnd = AccumulateDigits(p, end, magnitude);
  if (digitsEnd == end && digitsEnd > p && digitsEnd - p <= kShortIntegerDigits) {
    const uint64_t limit = negative ? 2147483648ull : 2147483647ull;
    if (magnitude > limit) return false;
    value = negative ? static_cast<int32_t>(-static_cast<int64_t>(magnitude))
                     : static_cast<int32_t>(magnitude);
    return true;
  }
  NumberText number;
  number.Append(text);
  return number.ToInt32(value);
}

bool TryParseExtended(std::string_view text, char decimalSeparator, long double& value) {
  NumberText number(decimalSeparator);
  number.Append(text);
  return number.ToExtended(value);
}

bool TryParseFloat(std::string_view text, char decimalSeparator, float& value) {
  bool decided = false;
  const char* const end = text.data() + text.size();
  if (ScanPlainDecimal(text.data(), end, decimalSeparator, value, decided) == end && decided) {
    return true;
  }
  long double extended = 0;
  if (!TryParseExtended(text, decimalSeparator, extended)) return false;
  value = static_cast<float>(extended);  // beyond float32 range: an infinity, no trap
  return true;
}

namespace {

// Scenes repeat their coordinates (corners shared by neighbouring quads, whole rows of
// equal heights), so the texts of recent floats are kept in a small direct-mapped table.
struct ShortestText {
  uint32_t bits = 0;
  uint8_t length = 0;  // 0: empty
  char text[27] = {};  // the longest is 14 ("-1.1754944e-38"); 32 bytes a slot
};
constexpr size_t kShortestTextSlots = 4096;
ShortestText shortestTexts[kShortestTextSlots];

}  // namespace

void AppendShortestFloat(std::string& out, float value) {
  uint32_t bits = 0;
  std::memcpy(&bits, &value, sizeof bits);
  ShortestText& cached = shortestTexts[(bits * 2654435761u) >> 20];  // 12 bits of the hash
  if (cached.length == 0 || cached.bits != bits) {
    const std::to_chars_result result =
        std::to_chars(cached.text, cached.text + sizeof cached.text, value);
    cached.bits = bits;
    cached.length = static_cast<uint8_t>(result.ptr - cached.text);
  }
  out.append(cached.text, cached.length);
}

void AppendInteger(std::string& out, int64_t value) {
  char text[24];
  const std::to_chars_result result = std::to_chars(text, text + sizeof text, value);
  out.append(text, static_cast<size_t>(result.ptr - text));
}

std::string NotAnIntegerMessage(std::string_view text) {
  return "'" + QuoteContent(text) + "' is not a valid integer value";
}

std::string NotAFloatMessage(std::string_view text) {
  return "'" + QuoteContent(text) + "' is not a valid floating point value";
}

int32_t StrToInt(std::string_view text) {
  int32_t value = 0;
  if (!TryParseInt32(text, value)) throw SceneError(NotAnIntegerMessage(text));
  return value;
}

float StrToFloat(std::string_view text, char decimalSeparator) {
  float value = 0;
  if (!TryParseFloat(text, decimalSeparator, value)) throw SceneError(NotAFloatMessage(text));
  return value;
}
