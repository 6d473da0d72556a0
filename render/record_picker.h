// Which records the frame renderer draws at one pixel: the scene drawn again with the same
// view and transform, each record in a colour that encodes its index (no texture, no
// blending), and the pixel read back. Needs a current GL context whose colour buffer has
// 8 bits in each of R, G and B, with the view set up by ResizeView.
#pragma once

#include <cstdint>
#include <vector>

#include "scene/scene_types.h"

// The records covering pixel (x, y) of a view `height` pixels high, x to the right and y down
// from the top-left corner, as the window shows it: the top one alone, or with `all` every
// one, in drawing order (the top one last). Empty when nothing is drawn there.
std::vector<int32_t> RecordsAtPixel(const CameraState& camera, const QuadTable& quads, int height,
                                    int x, int y, bool all);
