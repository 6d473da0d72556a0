// Picking by drawing: only the one pixel is drawn (a scissor test, which changes no fragment's
// coverage), records carry index + 1 in their RGB colour (a window's colour buffer may have no
// alpha), and for --all the records found are left out one by one until nothing is drawn
// there: the next one found is always the top one of those left, so the drawing order comes
// out top first. A table of more records than RGB can number is drawn once per page of them,
// the others in the background colour, so that they still cover what lies under them.
#include "render/record_picker.h"

#include <GL/gl.h>

#include <algorithm>

#include "render/frame_renderer.h"

namespace {

constexpr int kCornersPerQuad = 4;
constexpr size_t kCodesPerPage = (size_t{1} << 24) - 1;  // RGB codes; 0 is the background

uint32_t PixelCode(int x, int glY) {
  uint8_t rgba[4] = {0, 0, 0, 0};
  glReadPixels(x, glY, 1, 1, GL_RGBA, GL_UNSIGNED_BYTE, rgba);
  return uint32_t{rgba[0]} | uint32_t{rgba[1]} << 8 | uint32_t{rgba[2]} << 16;
}

// The top record among those not yet found at the pixel, or -1.
int64_t TopRecord(const QuadTable& quads, size_t count, const std::vector<bool>& found, int x,
                  int glY) {
  for (size_t page = 0; page < count; page += kCodesPerPage) {
    const size_t pageEnd = std::min(count, page + kCodesPerPage);
    glClear(GL_COLOR_BUFFER_BIT);
    glBegin(GL_QUADS);  // one batch: each quad still rasterises on its own, in table order
    for (size_t i = 0; i < count; ++i) {
      if (found[i]) continue;
      const uint32_t code = i >= page && i < pageEnd ? static_cast<uint32_t>(i - page) + 1 : 0;
      glColor3ub(static_cast<GLubyte>(code), static_cast<GLubyte>(code >> 8),
                 static_cast<GLubyte>(code >> 16));
      for (int corner = 0; corner < kCornersPerQuad; ++corner) {
        glVertex3fv(CornerPosition(quads.records[i], corner));
      }
    }
    glEnd();
    const uint32_t code = PixelCode(x, glY);
    if (code != 0 && code <= pageEnd - page) return static_cast<int64_t>(page + code - 1);
  }
  return -1;
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
    const int64_t top = TopRecord(quads, count, found, x, glY);
    if (top < 0) break;
    records.push_back(static_cast<int32_t>(top));
    if (!all) break;
    found[static_cast<size_t>(top)] = true;
  }
  glDisable(GL_SCISSOR_TEST);
  glColor4ub(255, 255, 255, 255);  // what the renderer's texels are multiplied by
  glEnable(GL_TEXTURE_2D);
  glEnable(GL_BLEND);
  std::reverse(records.begin(), records.end());
  return records;
}
