// Record marks in OpenGL 1.1 immediate mode, untextured, blended over the frame. Nothing is
// bound, so the renderer's binding cache stays true; texturing goes back on and the colour
// back to white, the state every textured quad of the next frame is drawn with.
#include "render/record_marks.h"

#include <GL/gl.h>

#include "render/frame_renderer.h"

namespace {
constexpr int kCornersPerQuad = 4;
constexpr GLubyte kHalfOpaque = 128;
constexpr GLubyte kOpaque = 255;
constexpr GLfloat kOutlinePixels = 2.0f;

void DrawCorners(const QuadTable& quads, const std::vector<int32_t>& indices, GLenum mode) {
  const size_t drawn = DrawnQuadCount(quads);
  for (const int32_t index : indices) {
    if (index < 0 || static_cast<size_t>(index) >= drawn) continue;
    glBegin(mode);
    for (int corner = 0; corner < kCornersPerQuad; ++corner) {
      glVertex3fv(CornerPosition(quads.records[static_cast<size_t>(index)], corner));
    }
    glEnd();
  }
}
}  // namespace

void DrawRecordMarks(const CameraState& camera, const QuadTable& quads,
                     const std::vector<int32_t>& indices, MarkColour colour, bool filled) {
  glLoadIdentity();
  ApplyCameraTransform(camera);
  glDisable(GL_TEXTURE_2D);
  glEnable(GL_BLEND);
  glBlendFunc(GL_SRC_ALPHA, GL_ONE_MINUS_SRC_ALPHA);
  if (filled) {
    glColor4ub(colour.red, colour.green, colour.blue, kHalfOpaque);
    DrawCorners(quads, indices, GL_QUADS);
  }
  glColor4ub(colour.red, colour.green, colour.blue, kOpaque);
  glLineWidth(kOutlinePixels);
  DrawCorners(quads, indices, GL_LINE_LOOP);
  glLineWidth(1.0f);
  glColor4ub(kOpaque, kOpaque, kOpaque, kOpaque);
  glEnable(GL_TEXTURE_2D);
}
