// Drag state and the camera changes of mouse drags and the wheel. The camera values are never
// limited, wrapped or reset here; the renderer reads them as they are at the next frame.
#include "app/navigation.h"

namespace {

constexpr float kPixelsPerPanUnit = 50.0f;
constexpr float kPixelsPerDegree = 20.0f;
constexpr float kWheelDeltaPerDistanceUnit = 100.0f;

struct DragState {
  bool dragging = false;
  MouseButton dragButton = MouseButton::kLeft;
  int lastX = 0;  // pointer at the last press or handled move, panel client coordinates
  int lastY = 0;
};

DragState dragState;

}  // namespace

void FormMouseDown(MouseButton button, int x, int y) {
  // A second button pressed during a drag takes the drag over from here.
  dragState.lastX = x;
  dragState.lastY = y;
  dragState.dragging = true;
  dragState.dragButton = button;
}

void FormMouseMove(CameraState& camera, int x, int y) {
  // Without a drag the reference stays at the last press, so the next press cannot jump.
  if (!dragState.dragging) return;
  const float dx = static_cast<float>(dragState.lastX - x);
  const float dy = static_cast<float>(dragState.lastY - y);
  switch (dragState.dragButton) {
    case MouseButton::kLeft:
      camera.panX += dx / kPixelsPerPanUnit;
      camera.panY += dy / kPixelsPerPanUnit;
      break;
    case MouseButton::kRight:
      camera.spin += dx / kPixelsPerDegree;
      camera.tilt += dy / kPixelsPerDegree;
      break;
    case MouseButton::kMiddle:
      break;
  }
  dragState.lastX = x;
  dragState.lastY = y;
}

void FormMouseUp(MouseButton, int, int) {
  // Any release ends the drag, whichever button started it.
  dragState.dragging = false;
}

void FormMouseWheel(CameraState& camera, int wheelDelta) {
  camera.distance += static_cast<float>(wheelDelta) / kWheelDeltaPerDistanceUnit;
}
