// The camera that shows a whole scene: pan and distance chosen so that every finite corner
// lies in the view, with the camera's tilt and spin kept. Pure arithmetic over the frame
// renderer's transform (ApplyCameraTransform) and the view's projection; no GL call.
#pragma once

#include "scene/scene_types.h"

// The share of the view the scene's bounds take when fitted: a small margin all round.
constexpr double kFitViewShare = 0.9;

// `camera` with panX, panY and distance moved so that every finite corner of `records` (of
// `count`) is in a width x height view, centred, its bounds taking `viewShare` of the view in
// the direction they fill it most. Unchanged when no corner is finite or the answer would not
// be finite in float.
CameraState FitCamera(const CameraState& camera, const QuadRecord* records, size_t count, int width,
                      int height, double viewShare);
// The whole table, with kFitViewShare.
CameraState FitCamera(const CameraState& camera, const QuadTable& quads, int width, int height);
