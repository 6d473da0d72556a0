// What changed between two quad tables, record by record: values compared as numbers, records
// aligned like a text diff but by record (anchors that occur once in each file, grown over
// equal neighbours; moves between the gaps; the rest paired in order). Linear with hashing,
// and the same result for every build. No GL, no files.
#pragma once

#include <cstdint>
#include <functional>
#include <string>

#include "scene/record_routes.h"
#include "scene/scene_types.h"

// One side of a comparison: its records and how its texture numbers were read.
struct DiffSide {
  const QuadTable& table;
  TextureNumbering numbering;
};

enum class RecordChangeKind { kChanged, kAdded, kRemoved, kMoved };

// A record of the old side, the new side or both (-1 for the side it lacks), by table index.
struct RecordChange {
  RecordChangeKind kind;
  int32_t oldIndex;
  int32_t newIndex;
};

// Calls `visit` for every difference, in the new table's order (a removed record where it
// stood): `kChanged` only for paired records whose values differ. Hashes on `threads` threads.
void AlignRecords(const DiffSide& oldSide, const DiffSide& newSide, int threads,
                  const std::function<void(const RecordChange&)>& visit);

// Whether two records hold the same values: slot, the files' texture numbers where both read
// them, blend, winding, and the corners' numbers compared as numbers (0 equals -0).
bool SameRecordValues(const QuadRecord& a, const TextureNumbering& aNumbering, const QuadRecord& b,
                      const TextureNumbering& bNumbering);

// The fields that differ, with their values: "slot 3 -> 4; blend 0 -> 1; winding CW -> CCW;
// corner 2: x 1.5 -> 2, z 3 -> 4" (corners from 1, x y z as the file holds them).
std::string DescribeRecordDifference(const QuadRecord& a, const TextureNumbering& aNumbering,
                                     const QuadRecord& b, const TextureNumbering& bNumbering);

// A float as the shortest text that reads back to it ("0.2", "1e+39", "inf").
std::string ShortestNumber(float value);
