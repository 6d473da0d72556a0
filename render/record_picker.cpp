// Picking by drawing: only the one pixel is drawn (a scissor test, which changes no fragment's
// coverage), records carry index + 1 in their RGBA colour, and for --all the records found
// are left out one by one until nothing is drawn there: the next one found is always the top
// one of those left, so the drawing order comes out top first.
#include "render/record_picker.h"

#include <GL/gl.h>

#include <algorithm>

#include "render/frame_renderer.h"

namespace {

constexpr int kCornersPerQuad = 4;

uint32_t PixelCode(int x, int glY) {
  uint8_t rgba[4] = {0, 0, 0, 0};
  glReadPixels(x, glY, 1, 1, GL_RGBA, GL_UNSIGNED_BYTE, rgba);
  return uint32_t{rgba[0]} | uint32_t{rgba[1]} << 8 | uint32_t{rgba[2]} << 16 |
         uint32_t{rgba[3]} << 24;
}

}  // namespace

std::vector<int32_t> RecordsAtPixel(const CameraState& camera, const QuadTable& quads, int height,
                                    int x, int y, bool all) {
  const int glY = height - 1 - y;  // GL counts rows from the bottom
  const size_t count = DrawnQuadCount(quads);
  std::vector<bool> found(count, false);
  std::vector<int32_t> records;
  glDisable(GL_TEXTURE_2D);
  glDisable(GL_BLEND);
  glEnable(GL_SCISSOR_TEST);
  glScissor(x, glY, 1, 1);
  glClearColor(0.0f, 0.0f, 0.0f, 0.0f);
  glLoadIdentity();
  ApplyCameraTransform(camera);
  glPixelStorei(GL_PACK_ALIGNMENT, 1);
  for (;;) {
    glClear(GL_COLOR_BUFFER_BIT);
    glBegin(GL_QUADS);  // one batch: each quad still rasterises on its own, in table order
    for (size_t i = 0; i < count; ++i) {
      if (found[i]) continue;
      const uint32_t code = static_cast<uint32_t>(i) + 1;  // 0 is the cleared background
      glColor4ub(static_cast<GLubyte>(code), static_cast<GLubyte>(code >> 8),
                 static_cast<GLubyte>(code >> 16), static_cast<GLubyte>(code >> 24));
      for (int corner = 0; corner < kCornersPerQuad; ++corner) {
        glVertex3fv(CornerPosition(quads.records[i], corner));
      }
    }
    glEnd();
    const uint32_t code = PixelCode(x, glY);
    if (code == 0 || code > count) break;
    records.push_back(static_cast<int32_t>(code - 1));
    if (!all) break;
    found[code - 1] = true;
  }
  glDisable(GL_SCISSOR_TEST);
  glColor4ub(255, 255, 255, 255);  // what the renderer's texels are multiplied by
  glEnable(GL_TEXTURE_2D);
  glEnable(GL_BLEND);
  std::reverse(records.begin(), records.end());
  return records;
}
