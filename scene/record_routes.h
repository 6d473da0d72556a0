// The one-pass routes of the quad-list reader: the common header and corner lines read without
// the tokenizer, giving exactly the tokenizer route's values, and a whole record of them.
// Anything they do not take (a quote, a NUL, a missing or bad token) is left to the tokenizer
// route and its messages. No state: any thread may use them.
#pragma once

#include <algorithm>
#include <cstdint>
#include <string_view>

#include "scene/numbers.h"
#include "scene/record_format.h"
#include "scene/scene_types.h"
#include "scene/text_parser.h"

// How a file's name has its records' texture numbers read: not at all (every slot 0), or
// shifted by `shift` (slot = number - shift, wrapping like 32-bit arithmetic).
struct TextureNumbering {
  bool read = false;
  int32_t shift = 0;
};

// Inline: the reader calls them for every line of a file.
namespace record_routes {

// Moves `p` past separators to the start of the next token; false at a NUL, which ends a
// line's text for the tokenizer, and at the start of a quoted token: the fast routes then
// leave the line to the tokenizer route. True with p == end when none is left.
inline bool SkipToPlainToken(const char*& p, const char* end) {
  while (p < end && EndsPlainToken(*p)) {
    if (*p == '\0') return false;
    ++p;
  }
  return p == end || *p != '"';
}

}  // namespace record_routes

// The common header line, its first two tokens plain decimal integers, read in one pass: the
// same tokens and values as the tokenizer route. False for anything else (then that route
// decides, with its messages).
inline bool ReadHeaderFast(std::string_view line, int32_t& first, int32_t& second) {
  constexpr int kMaxDigits = 10;  // more never fits an int32
  const char* p = line.data();
  const char* const end = p + line.size();
  int32_t values[kHeaderTokens];
  for (int32_t& value : values) {
    if (!record_routes::SkipToPlainToken(p, end) || p == end) return false;
    const bool negative = *p == '-';
    if (*p == '-' || *p == '+') ++p;
    const char* const digitsBegin = p;
    uint64_t magnitude = 0;
    p = AccumulateDigits(p, std::min(end, digitsBegin + kMaxDigits), magnitude);
    if (p == digitsBegin || (p < end && !EndsPlainToken(*p))) return false;
    const int64_t signedValue =
        negative ? -static_cast<int64_t>(magnitude) : static_cast<int64_t>(magnitude);
    if (signedValue < INT32_MIN || signedValue > INT32_MAX) return false;
    value = static_cast<int32_t>(signedValue);
  }
  first = values[0];
  second = values[1];
  return true;
}

// The common corner line, five plain decimals, read in one pass without the token list: the
// same tokens and the same conversion as the tokenizer route. False, having changed nothing,
// for anything else (a quote or NUL before the fifth token ends, fewer than five tokens, a
// bad number), which then takes the tokenizer route and its messages.
inline bool ReadCornerFast(std::string_view line, QuadCorner& corner) {
  const char* p = line.data();
  const char* const end = p + line.size();
  float values[kCornerTokens];
  for (float& value : values) {
    if (!record_routes::SkipToPlainToken(p, end) || p == end) return false;
    const char* const tokenBegin = p;
    bool decided = false;
    p = ScanPlainDecimal(p, end, kDecimalSeparator, value, decided);
    if (decided && (p == end || EndsPlainToken(*p))) continue;
    // Any other token: its text up to the next separator, converted as it stands.
    while (p < end && !EndsPlainToken(*p)) ++p;
    if (!TryParseFloat(std::string_view(tokenBegin, static_cast<size_t>(p - tokenBegin)),
                       kDecimalSeparator, value)) {
      return false;
    }
  }
  corner = CornerFromValues(values);
  return true;
}

// The header's fields of a record from its two numbers, as every route stores them.
inline void StoreHeader(const TextureNumbering& numbering, int32_t textureNumber, int32_t blendMode,
                        QuadRecord& record) {
  if (numbering.read) {
    // Wraps like 32-bit arithmetic without overflow checks.
    record.textureIndex = static_cast<int32_t>(static_cast<uint32_t>(textureNumber) -
                                               static_cast<uint32_t>(numbering.shift));
  }
  record.blend = static_cast<uint8_t>(blendMode & 0xFF);
}

// A whole record from its six lines when every line takes the one-pass route and the winding
// line is whole: what the reader would store for them. False for anything else.
inline bool ReadRecordFast(const std::string_view (&lines)[kLinesPerRecord],
                           const TextureNumbering& numbering, QuadRecord& record) {
  int32_t textureNumber = 0, blendMode = 0;
  if (!ReadHeaderFast(lines[0], textureNumber, blendMode)) return false;
  record.textureIndex = 0;
  StoreHeader(numbering, textureNumber, blendMode, record);
  record.counterClockwise = lines[1] == kCounterClockwiseWord ? 1 : 0;
  for (int k = 0; k < 4; ++k) {
    if (!ReadCornerFast(lines[2 + k], record.corners[k])) return false;
  }
  return true;
}
