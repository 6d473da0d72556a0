// A record as `quadscene dump` prints it: its number N (from 1), textureIndex blend
// counterClockwise, then u v x y z of the four corners (z as stored, negated against the
// file), floats as %.9g, which reads back to every float32 exactly.
#pragma once

#include <cstdint>
#include <string>

#include "scene/record_place.h"
#include "scene/scene_types.h"

// `index` counts from 0, as the table does.
std::string DumpLine(int32_t index, const QuadRecord& record);
