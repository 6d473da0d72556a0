// What the command lines of quadview and quadscene share: numbers, whole and finite float32
// values in the C locale's plain decimal syntax (so "1,5", "0x10", "nan" or " 1" never slip
// through, and both programs take the same camera values), and the wrapping of help text.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

// What a float option says when its value is refused.
constexpr const char* kOptionFloatRange = "expected a number between -3.4e38 and 3.4e38";

// An optional '+', then decimal digits within int64.
bool ParseOptionWhole(const std::string& text, int64_t& value);
// A finite decimal number within float32's range, rounded to float32.
bool ParseOptionFloat(const std::string& text, float& value);

// `text` wrapped at spaces into lines of at most `width` characters (a longer word stands on
// a line of its own), joined by '\n', without a final one.
std::string WrapWords(const std::string& text, size_t width);

// One entry of a help listing: "  NAME", then `description` wrapped from column `column` to
// `width` (on the next line when the name reaches that column), ending in '\n'.
std::string HelpEntry(const std::string& name, const std::string& description, size_t column,
                      size_t width);
