// Fuzz target for the record alignment of quadscene diff. The input's first byte splits the
// rest into an old and a new table; each byte after it is one record drawn from a small
// alphabet of values (so repeats, moves and anchors all occur), some of them equal as numbers
// but not in bits (0 and -0, two NaNs). The report must be an edit script from old to new:
// new indices in rising order, no old index twice, moved records equal and changed ones
// unequal, and the records it does not name paired in order, each pair equal.
#include <cmath>
#include <cstdint>
#include <cstdlib>
#include <limits>
#include <vector>

#include "scene/record_diff.h"

namespace {

QuadRecord RecordOf(uint8_t code) {
  QuadRecord record{};
  record.textureIndex = code & 3;
  record.blend = (code >> 2) & 1;
  record.counterClockwise = (code >> 3) & 1;
  const uint8_t corner = (code >> 4) & 3;
  float value = static_cast<float>(corner);
  if (code >> 6 == 1) value = -0.0f * static_cast<float>(corner == 0);  // -0 equals 0
  if (code >> 6 == 2 && corner == 3) value = std::numeric_limits<float>::quiet_NaN();
  if (code >> 6 == 3 && corner == 3) value = -std::numeric_limits<float>::quiet_NaN();
  record.corners[corner].x = value;
  return record;
}

void Check(bool condition) {
  if (!condition) std::abort();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size < 1) return 0;
  const size_t split = 1 + (size - 1) * data[0] / 256;
  QuadTable oldTable, newTable;
  for (size_t k = 1; k < size; ++k)
    (k < split ? oldTable : newTable).records.push_back(RecordOf(data[k]));
  oldTable.count = static_cast<int32_t>(oldTable.records.size());
  newTable.count = static_cast<int32_t>(newTable.records.size());
  const TextureNumbering numbering{true, 3};
  const DiffSide oldSide{oldTable, numbering}, newSide{newTable, numbering};
  std::vector<char> oldNamed(oldTable.records.size()), newNamed(newTable.records.size());
  int32_t lastNew = -1;
  const auto same = [&](int32_t i, int32_t j) {
    return SameRecordValues(oldTable.records[static_cast<size_t>(i)], numbering,
                            newTable.records[static_cast<size_t>(j)], numbering);
  };
  AlignRecords(oldSide, newSide, 1 + data[0] % 3, [&](const RecordChange& change) {
    if (change.oldIndex >= 0) {
      Check(change.oldIndex < oldTable.count && !oldNamed[static_cast<size_t>(change.oldIndex)]);
      oldNamed[static_cast<size_t>(change.oldIndex)] = 1;
    }
    if (change.newIndex >= 0) {
      Check(change.newIndex < newTable.count && change.newIndex > lastNew);
      lastNew = change.newIndex;
      newNamed[static_cast<size_t>(change.newIndex)] = 1;
    }
    switch (change.kind) {
      case RecordChangeKind::kChanged:
        Check(!same(change.oldIndex, change.newIndex));
        break;
      case RecordChangeKind::kMoved:
        Check(same(change.oldIndex, change.newIndex));
        break;
      case RecordChangeKind::kAdded:
        Check(change.oldIndex < 0 && change.newIndex >= 0);
        break;
      case RecordChangeKind::kRemoved:
        Check(change.oldIndex >= 0 && change.newIndex < 0);
        break;
    }
  });
  size_t i = 0, j = 0;
  for (;; ++i, ++j) {
    while (i < oldNamed.size() && oldNamed[i]) ++i;
    while (j < newNamed.size() && newNamed[j]) ++j;
    if (i == oldNamed.size() || j == newNamed.size()) break;
    Check(same(static_cast<int32_t>(i), static_cast<int32_t>(j)));
  }
  Check(i == oldNamed.size() && j == newNamed.size());
  return 0;
}
