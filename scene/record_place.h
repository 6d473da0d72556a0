// Where a record stands in its file and how a person reads it: records count from 1, each
// begins on the header line of its six, and the picked record's one line that the viewer and
// quadscene pick print alike.
#pragma once

#include <cstdint>
#include <string>

#include "scene/scene_types.h"

// The file line of record `index`'s header (index from 0, as the table holds it).
int64_t HeaderLine(int32_t index);

// "FILE:LINE: record N: slot S (TEXTURE-PATH or no image), blend B (opaque or
// alpha-blended), CW or CCW" for record `index` of the scene at `path` (as opened), whose
// texture set holds `images` images; N counts from 1.
std::string RecordLine(const std::string& path, int32_t index, const QuadRecord& record,
                       int images);

// The number of images in the texture set of the scene at `path`, counted as the viewer walks
// it (000.tga on, to the first missing number), without reading them.
int CountTextureImages(const std::string& path);
