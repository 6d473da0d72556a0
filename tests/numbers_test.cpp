// Number conversion: integer and float syntax, range limits, rounding and exact messages.
#include "scene/numbers.h"

#include <gtest/gtest.h>
#include <locale.h>

#include <cmath>
#include <cstdlib>
#include <cstring>
#include <random>
#include <string>
#include <vector>

#include "scene/scene_error.h"

namespace {

int32_t Int(const std::string& text) {
  int32_t value = 12345;
  EXPECT_TRUE(TryParseInt32(text, value)) << text;
  return value;
}

bool IntFails(const std::string& text) {
  int32_t value = 0;
  return !TryParseInt32(text, value);
}

long double Extended(const std::string& text, char separator = '.') {
  long double value = -12345;
  EXPECT_TRUE(TryParseExtended(text, separator, value)) << text;
  return value;
}

bool FloatFails(const std::string& text, char separator = '.') {
  long double value = 0;
  return !TryParseExtended(text, separator, value);
}

TEST(IntegerTokens, DecimalWithinInt32) {
  EXPECT_EQ(Int("12"), 12);
  EXPECT_EQ(Int("+7"), 7);
  EXPECT_EQ(Int("-0"), 0);
  EXPECT_EQ(Int("  42"), 42);
  EXPECT_EQ(Int("2147483647"), 2147483647);
  EXPECT_EQ(Int("-2147483648"), INT32_MIN);
  EXPECT_EQ(Int("0000000000012"), 12);
  EXPECT_TRUE(IntFails("2147483648"));
  EXPECT_TRUE(IntFails("-2147483649"));
  EXPECT_TRUE(IntFails("99999999999999999999"));
}

TEST(IntegerTokens, HexadecimalPrefixesAndTwosComplement) {
  EXPECT_EQ(Int("$10"), 16);
  EXPECT_EQ(Int("0x10"), 16);
  EXPECT_EQ(Int("0X1f"), 31);
  EXPECT_EQ(Int("x1F"), 31);
  EXPECT_EQ(Int("XaB"), 171);
  EXPECT_EQ(Int("$FFFFFFFF"), -1);
  EXPECT_EQ(Int("$80000000"), INT32_MIN);
  EXPECT_EQ(Int("$000000000001"), 1);
  EXPECT_TRUE(IntFails("$100000000"));
  EXPECT_TRUE(IntFails("-$10"));
  EXPECT_TRUE(IntFails("+0x10"));
  EXPECT_TRUE(IntFails("$"));
  EXPECT_TRUE(IntFails("0x"));
  EXPECT_TRUE(IntFails("$1G"));
}

TEST(IntegerTokens, NothingMayFollowAndSomethingMustBeThere) {
  EXPECT_TRUE(IntFails(""));
  EXPECT_TRUE(IntFails("   "));
  EXPECT_TRUE(IntFails("+"));
  EXPECT_TRUE(IntFails("-"));
  EXPECT_TRUE(IntFails("5 "));
  EXPECT_TRUE(IntFails("1.0"));
  EXPECT_TRUE(IntFails("1e3"));
  EXPECT_TRUE(IntFails("- 5"));
}

TEST(FloatTokens, Syntax) {
  EXPECT_EQ(Extended("0.25"), 0.25L);
  EXPECT_EQ(Extended("-2"), -2.0L);
  EXPECT_EQ(Extended("+1.5"), 1.5L);
  EXPECT_EQ(Extended("."), 0.0L);
  EXPECT_EQ(Extended("-.5"), -0.5L);
  EXPECT_EQ(Extended("3."), 3.0L);
  EXPECT_EQ(Extended("  1.5  "), 1.5L);
  EXPECT_EQ(Extended("1E"), 1.0L);
  EXPECT_EQ(Extended("1e+"), 1.0L);
  EXPECT_EQ(Extended("2.5E-1"), 0.25L);
  EXPECT_EQ(Extended("1E0000000003"), 1000.0L);
  EXPECT_TRUE(FloatFails(""));
  EXPECT_TRUE(FloatFails("-"));
  EXPECT_TRUE(FloatFails("+"));
  EXPECT_TRUE(FloatFails("E5"));
  EXPECT_TRUE(FloatFails("1.2.3"));
  EXPECT_TRUE(FloatFails("1,5"));
  EXPECT_TRUE(FloatFails("0x10"));
  EXPECT_TRUE(FloatFails("inf"));
  EXPECT_TRUE(FloatFails("nan"));
  EXPECT_TRUE(FloatFails("1 000"));
}

TEST(FloatTokens, DecimalSeparatorIsTheOneGiven) {
  EXPECT_EQ(Extended("1,5", ','), 1.5L);
  EXPECT_TRUE(FloatFails("1.5", ','));
}

TEST(FloatTokens, ExponentDigitsStopAtFiveHundred) {
  EXPECT_EQ(Extended("1E600"), 1e600L);
  EXPECT_EQ(Extended("1E499"), 1e499L);
  EXPECT_TRUE(FloatFails("1E5000"));
  EXPECT_TRUE(FloatFails("1E50000"));
  EXPECT_EQ(Extended("1E-600"), 1e-600L);
}

TEST(FloatTokens, ExtendedRangeLimits) {
  EXPECT_EQ(Extended("1E4931"), 1e4931L);
  EXPECT_TRUE(FloatFails("1E4999"));
  EXPECT_TRUE(FloatFails("2E4932"));
  EXPECT_EQ(Extended("1E-4999"), 0.0L);
}

TEST(FloatTokens, StoredAsFloat32AfterExtendedRounding) {
  float value = 0;
  ASSERT_TRUE(TryParseFloat("1E39", '.', value));
  EXPECT_TRUE(std::isinf(value) && value > 0);
  ASSERT_TRUE(TryParseFloat("-1E39", '.', value));
  EXPECT_TRUE(std::isinf(value) && value < 0);
  ASSERT_TRUE(TryParseFloat("0.1", '.', value));
  EXPECT_EQ(value, static_cast<float>(0.1L));
  ASSERT_TRUE(TryParseFloat("3.4028235E38", '.', value));
  EXPECT_EQ(value, 3.4028235e38f);
}

// The fast path must give exactly what a correctly rounded extended conversion gives.
TEST(FloatTokens, FastPathMatchesFullConversion) {
  const locale_t cLocale = newlocale(LC_ALL_MASK, "C", static_cast<locale_t>(0));
  std::mt19937_64 random(20261207);
  for (int i = 0; i < 200000; ++i) {
    std::string text = random() % 4 == 0 ? "-" : "";
    const int intDigits = static_cast<int>(random() % 12);
    const int fracDigits = static_cast<int>(random() % 14);
    for (int d = 0; d < intDigits; ++d) text += static_cast<char>('0' + random() % 10);
    text += '.';
    for (int d = 0; d < fracDigits; ++d) text += static_cast<char>('0' + random() % 10);
    if (random() % 3 == 0) text += "e" + std::to_string(static_cast<int>(random() % 60) - 30);
    const long double expected = strtold_l(text.c_str(), nullptr, cLocale);
    ASSERT_EQ(Extended(text), expected) << text;
  }
  freelocale(cLocale);
}

// Tokens of any length convert exactly, also fed in pieces, while the scanner keeps only the
// digits that can decide the rounding (a sticky digit stands for the rest).
TEST(FloatTokens, LongTokensConvertExactlyWhateverTheirLength) {
  const locale_t cLocale = newlocale(LC_ALL_MASK, "C", static_cast<locale_t>(0));
  // 1 + 2^-64 lies exactly halfway between two extended values; anything above it rounds up.
  const std::string halfway = "1.0000000000000000000542101086242752217003726400434970855712890625";
  const std::vector<std::string> tokens = {
      std::string(20000, '0') + "1.5",
      "-0." + std::string(20000, '0') + "1",
      halfway,
      halfway + std::string(15000, '0') + "1",
      halfway + std::string(15000, '0'),
      std::string(4000, '9') + "e-3990",
      "1" + std::string(5000, '0'),
  };
  for (const std::string& text : tokens) {
    long double expected = strtold_l(text.c_str(), nullptr, cLocale);
    long double whole = 0, pieces = 0;
    const bool converts = TryParseExtended(text, '.', whole);
    NumberText number;
    for (size_t i = 0; i < text.size(); i += 7) number.Append(std::string_view(text).substr(i, 7));
    ASSERT_EQ(number.ToExtended(pieces), converts);
    if (std::isinf(expected)) {
      EXPECT_FALSE(converts) << text.substr(0, 40);  // beyond the extended range
      continue;
    }
    ASSERT_TRUE(converts) << text.substr(0, 40);
    EXPECT_EQ(whole, expected) << text.substr(0, 40);
    EXPECT_EQ(pieces, expected) << text.substr(0, 40);
  }
  freelocale(cLocale);
  int32_t value = 0;
  ASSERT_TRUE(TryParseInt32("-" + std::string(10000, '0') + "2147483648", value));
  EXPECT_EQ(value, INT32_MIN);
  ASSERT_TRUE(TryParseInt32("$" + std::string(100, '0') + "FFFFFFFF", value));
  EXPECT_EQ(value, -1);
  EXPECT_FALSE(TryParseInt32(std::string(10000, '1'), value));
}

TEST(NumberMessages, ExactTextsWithTheOffendingToken) {
  try {
    StrToInt("1.5");
    FAIL() << "no error";
  } catch (const SceneError& error) {
    EXPECT_STREQ(error.what(), "'1.5' is not a valid integer value");
  }
  try {
    StrToFloat("abc");
    FAIL() << "no error";
  } catch (const SceneError& error) {
    EXPECT_STREQ(error.what(), "'abc' is not a valid floating point value");
  }
  try {
    StrToFloat("");
    FAIL() << "no error";
  } catch (const SceneError& error) {
    EXPECT_STREQ(error.what(), "'' is not a valid floating point value");
  }
  // File content is quoted up to 100 bytes: a token of a megabyte gives a usable message.
  try {
    StrToFloat(std::string(100, '7') + "x");
    FAIL() << "no error";
  } catch (const SceneError& error) {
    EXPECT_EQ(error.what(),
              "'" + std::string(100, '7') + "...' is not a valid floating point value");
  }
  try {
    StrToInt(std::string(100, '7'));
    FAIL() << "no error";
  } catch (const SceneError& error) {
    EXPECT_EQ(error.what(), "'" + std::string(100, '7') + "' is not a valid integer value");
  }
}

}  // namespace

namespace {

// Floats take their own fast route; it must round exactly like the extended conversion,
// including decimals that land halfway between two floats.
TEST(FloatTokens, Float32FastRouteMatchesExtendedRounding) {
  std::mt19937_64 random(7);
  auto check = [](const std::string& text) {
    long double extended = 0;
    ASSERT_TRUE(TryParseExtended(text, '.', extended)) << text;
    float value = 0;
    ASSERT_TRUE(TryParseFloat(text, '.', value)) << text;
    const float expected = static_cast<float>(extended);
    ASSERT_EQ(std::memcmp(&value, &expected, sizeof value), 0) << text;
  };
  for (int i = 0; i < 300000; ++i) {
    std::string text = random() % 4 == 0 ? "-" : "";
    const int intDigits = static_cast<int>(random() % 10);
    const int fracDigits = static_cast<int>(random() % 12);
    for (int d = 0; d < intDigits; ++d) text += static_cast<char>('0' + random() % 10);
    text += '.';
    for (int d = 0; d < fracDigits; ++d) text += static_cast<char>('0' + random() % 10);
    check(text);
  }
  // Exactly halfway between floats: 1 + 2^-24 and 2^24 + 1, and their neighbours.
  for (const char* text :
       {"1.000000059604644775390625", "16777217", "16777217.0000001", "16777216.9999999", "0.1",
        "-0", "-0.0", ".", "0.000000000000000000001"}) {
    check(text);
  }
}

}  // namespace
