// The camera that shows a whole scene: pan and distance chosen so that every finite corner
// lies in the view, with the camera's tilt and spin kept. Pure arithmetic over the frame
// renderer's transform (ApplyCameraTransform) and the view's projection; no GL call.
#pragma once

#include "scene/scene_types.h"

// `camera` with panX, panY and distance moved so that every finite corner of `quads` is in a
// width x height view, centred, with a small margin. Unchanged when no corner is finite or
// the answer would not be finite in float.
CameraState FitCamera(const CameraState& camera, const QuadTable& quads, int width, int height);
