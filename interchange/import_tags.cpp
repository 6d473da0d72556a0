// Records back from their tags: the faces a modelling tool kept of an export, grouped by the
// record they were, the triangles of each quad paired again by the diagonal they share.
#include <algorithm>
#include <cstring>

#include "interchange/stages.h"

namespace {

bool SamePosition(const QuadCorner& a, const QuadCorner& b) {
  return a.x == b.x && a.y == b.y && a.z == b.z;
}

// Whether `second` is the triangle (0, 2, 3) of the quad whose (0, 1, 2) is `first`.
bool SecondHalfOf(const TaggedFace& first, const TaggedFace& second) {
  return second.cornerCount == 3 && SamePosition(second.corners[0], first.corners[0]) &&
         SamePosition(second.corners[1], first.corners[2]);
}

}  // namespace

void RecordsFromTags(std::vector<TaggedFace>& faces,
                     std::vector<QuadRecord, TableAllocator<QuadRecord>>& records) {
  std::stable_sort(faces.begin(), faces.end(), [](const TaggedFace& a, const TaggedFace& b) {
    return a.tag.index < b.tag.index;
  });
  std::vector<bool> used(faces.size(), false);
  for (size_t first = 0; first < faces.size(); ++first) {
    if (used[first]) continue;
    used[first] = true;
    const TaggedFace& face = faces[first];
    QuadRecord record{};
    record.textureIndex = face.slot;
    record.blend = face.tag.blend;
    record.counterClockwise = face.tag.counterClockwise;
    std::copy(face.corners, face.corners + 4, record.corners);
    if (face.cornerCount == 3) {
      record.corners[3] = face.corners[2];
      // Its partner is among the faces of the same tag that follow.
      for (size_t other = first + 1;
           other < faces.size() && faces[other].tag.index == face.tag.index; ++other) {
        if (!used[other] && SecondHalfOf(face, faces[other])) {
          used[other] = true;
          record.corners[3] = faces[other].corners[2];
          break;
        }
      }
    }
    records.push_back(record);
  }
}
