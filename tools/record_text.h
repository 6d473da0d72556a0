// A record as `quadscene dump` prints it: index textureIndex blend counterClockwise, then
// u v x y z of the four corners (z as stored, negated against the file), floats as %.9g,
// which reads back to every float32 exactly.
#pragma once

#include <cstdint>
#include <string>

#include "scene/scene_types.h"

std::string DumpLine(int32_t index, const QuadRecord& record);

// The file line of record `index`'s header: every record is six lines.
int64_t HeaderLine(int32_t index);
