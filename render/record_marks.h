// Records marked on top of a drawn frame, so that a person sees where they are: filled with a
// translucent colour and outlined, or outlined alone. Needs the frame's current GL context
// with the view set up by ResizeView; leaves the state as the frame renderer expects it.
#pragma once

#include <cstdint>
#include <vector>

#include "scene/scene_types.h"

struct MarkColour {
  uint8_t red;
  uint8_t green;
  uint8_t blue;
};

// Draws records `indices` of `quads` (indices outside the table are skipped) over what is
// drawn, with `camera`'s transform: an outline in `colour`, and with `filled` the quad itself
// in `colour` at half opacity under it. Texturing and the texture binding are left as they
// were, the vertex colour white.
void DrawRecordMarks(const CameraState& camera, const QuadTable& quads,
                     const std::vector<int32_t>& indices, MarkColour colour, bool filled);
