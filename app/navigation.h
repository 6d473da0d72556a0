// Mouse navigation: left drag pans, right drag turns, the wheel moves the camera nearer or
// farther. Plain procedures over the camera and the module's own drag state; no toolkit.
#pragma once

#include "scene/scene_types.h"

enum class MouseButton { kLeft, kRight, kMiddle };

// Positions are in the view panel's client coordinates: x to the right, y downward.
void FormMouseDown(MouseButton button, int x, int y);
void FormMouseMove(CameraState& camera, int x, int y);
void FormMouseUp(MouseButton button, int x, int y);

// `wheelDelta` in 1/120 of a notch, positive for a notch away from the user.
void FormMouseWheel(CameraState& camera, int wheelDelta);
