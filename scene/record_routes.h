// The one-pass routes of the quad-list reader: the common header and corner lines read without
// the tokenizer, giving exactly the tokenizer route's values, and a whole record of them.
// Anything they do not take (a quote, a NUL, a missing or bad token) is left to the tokenizer
// route and its messages. No state: any thread may use them.
#pragma once

#include <cstdint>
#include <string_view>

#include "scene/scene_types.h"

// How a file's name has its records' texture numbers read: not at all (every slot 0), or
// shifted by `shift` (slot = number - shift, wrapping like 32-bit arithmetic).
struct TextureNumbering {
  bool read = false;
  int32_t shift = 0;
};

// The header line's texture number and blend mode when both are plain decimal integers.
bool ReadHeaderFast(std::string_view line, int32_t& first, int32_t& second);
// A corner line of five plain numbers; `corner` gets them with z negated.
bool ReadCornerFast(std::string_view line, QuadCorner& corner);

// The header's fields of a record from its two numbers, as every route stores them.
void StoreHeader(const TextureNumbering& numbering, int32_t textureNumber, int32_t blendMode,
                 QuadRecord& record);

// A whole record from its six lines when every line takes the one-pass route and the winding
// line is whole: what the reader would store for them. False for anything else.
bool ReadRecordFast(const std::string_view (&lines)[6], const TextureNumbering& numbering,
                    QuadRecord& record);
