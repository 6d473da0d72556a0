// What a record of a quad-list file is, for every route that reads or writes one: six lines,
// a header (texture number, blend mode), the winding word, and four corners of five numbers
// (u v x y z) with '.' as the decimal separator and z stored negated. Each rule is written
// here once, so the one-pass routes, the tokenizer route and the writer cannot drift apart.
#pragma once

#include <cstdint>

#include "scene/scene_types.h"

constexpr int kLinesPerRecord = 6;    // header, winding, four corners
constexpr int32_t kHeaderTokens = 2;  // texture number, blend mode; further tokens ignored
constexpr int32_t kCornerTokens = 5;  // u v x y z
constexpr char kDecimalSeparator = '.';

// The whole winding line that makes a record counter-clockwise; any other text, a long line
// among them, is clockwise, which the writer spells kClockwiseWord. Plain character arrays,
// compared as they stand where the routes read the line: through a string_view constant or a
// helper, GCC laid the record loops out differently from the literal they replace.
constexpr char kCounterClockwiseWord[] = "CCW";
constexpr char kClockwiseWord[] = "CW";

// A corner from its line's values in file order, and back: the file's z is the scene's,
// negated.
inline QuadCorner CornerFromValues(const float (&values)[kCornerTokens]) {
  return QuadCorner{values[0], values[1], values[2], values[3], -values[4]};
}
inline void ValuesFromCorner(const QuadCorner& corner, float (&values)[kCornerTokens]) {
  values[0] = corner.u;
  values[1] = corner.v;
  values[2] = corner.x;
  values[3] = corner.y;
  values[4] = -corner.z;
}
