// The dump text of a record.
#include "tools/record_text.h"

#include <cstdio>

#include "scene/record_format.h"

std::string DumpLine(int32_t index, const QuadRecord& record) {
  char text[512];
  int length = std::snprintf(text, sizeof text, "%lld %d %d %d", static_cast<long long>(index) + 1,
                             record.textureIndex, record.blend, record.counterClockwise);
  for (const QuadCorner& c : record.corners) {
    length += std::snprintf(text + length, sizeof text - static_cast<size_t>(length),
                            " %.9g %.9g %.9g %.9g %.9g", c.u, c.v, c.x, c.y, c.z);
  }
  return std::string(text, static_cast<size_t>(length));
}
