// Fixed-function state set once per context, and the viewport and projection for a drawable
// of a given size. Relies on the caller's current GL context; GLU supplies the perspective.
#include "render/view_setup.h"

#include <GL/gl.h>
#include <GL/glu.h>

#include <cstring>

#include "render/frame_renderer.h"

namespace {
// Near plane 0: every point in front of the eye maps to the far depth, so nothing in front
// is clipped by depth and the far value has no effect. There is no depth buffer to care.
constexpr double kNearPlane = 0.0;
constexpr double kFarPlane = 500.0;
}  // namespace

void InitGLState() {
  glClearColor(0.0f, 0.0f, 0.0f, 0.0f);
  glShadeModel(GL_SMOOTH);
  glEnable(GL_TEXTURE_2D);
  glEnable(GL_BLEND);
  glDisable(GL_DITHER);
  glDisable(GL_CULL_FACE);
  glHint(GL_PERSPECTIVE_CORRECTION_HINT, GL_NICEST);
  ForgetTextureBinding();
}

void ResizeView(int width, int height) {
  glViewport(0, 0, width, height);
  glMatrixMode(GL_PROJECTION);
  glLoadIdentity();
  // Floating-point division: a height of 0 gives an infinite (or NaN) aspect, not a trap,
  // because floating-point exceptions stay masked for the whole run.
  const double aspect = static_cast<double>(width) / static_cast<double>(height);
  gluPerspective(kFieldOfViewDegrees, aspect, kNearPlane, kFarPlane);
  // The renderer relies on the modelview matrix being current outside this procedure.
  glMatrixMode(GL_MODELVIEW);
}

std::vector<uint8_t> ReadViewPixels(int width, int height) {
  constexpr size_t kRgbaBytes = 4;
  const size_t rowBytes = static_cast<size_t>(width) * kRgbaBytes;
  const size_t rows = static_cast<size_t>(height);
  std::vector<uint8_t> bottomUp(rowBytes * rows);
  glPixelStorei(GL_PACK_ALIGNMENT, 1);
  glReadPixels(0, 0, width, height, GL_RGBA, GL_UNSIGNED_BYTE, bottomUp.data());
  // GL's row 0 is the bottom of the view; callers get the top first.
  std::vector<uint8_t> topDown(bottomUp.size());
  for (size_t row = 0; row < rows; ++row) {
    std::memcpy(topDown.data() + row * rowBytes, bottomUp.data() + (rows - 1 - row) * rowBytes,
                rowBytes);
  }
  return topDown;
}
