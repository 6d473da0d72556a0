// Draws one frame in OpenGL 1.1 immediate mode: the camera transform, then every quad in table
// order, binding a texture only when its name differs from the one bound last. Relies on a
// current context with the modelview matrix current and no depth test: order decides cover.
#include "render/frame_renderer.h"

#include <GL/gl.h>

namespace {
// Matches no texture name the program creates, so the first bind in a context happens.
constexpr uint32_t kNoTextureBoundYet = 0x0BADF00D;
constexpr GLfloat kHalfTurnDegrees = 180.0f;
constexpr int kCornersPerQuad = 4;
}  // namespace

namespace frameRendererState {
// Never reset between frames: consecutive frames share the last binding. Only a new context
// (ForgetTextureBinding) starts it afresh.
uint32_t lastBoundTexture = kNoTextureBoundYet;
}  // namespace frameRendererState

void BindTexture2D(uint32_t name) {
  if (name == frameRendererState::lastBoundTexture) return;
  frameRendererState::lastBoundTexture = name;
  glBindTexture(GL_TEXTURE_2D, name);
}

void ForgetTextureBinding() {
  frameRendererState::lastBoundTexture = kNoTextureBoundYet;
}

void ApplyCameraTransform(const CameraState& camera) {
  glScalef(-1.0f, 1.0f, 1.0f);
  glRotatef(-camera.tilt, 1.0f, 0.0f, 0.0f);
  glRotatef(camera.spin, 0.0f, 0.0f, 1.0f);
  glTranslatef(camera.panX, camera.panY, camera.distance);
  glRotatef(kHalfTurnDegrees, 0.0f, 1.0f, 0.0f);
}

void RenderFrame(const CameraState& camera, const QuadTable& quads, const TextureTable& textures) {
  glClear(GL_COLOR_BUFFER_BIT);
  // Harmless order: the modelview matrix is already the current one.
  glLoadIdentity();
  glMatrixMode(GL_MODELVIEW);
  ApplyCameraTransform(camera);
  glEnable(GL_BLEND);
  glEnable(GL_TEXTURE_2D);

  const QuadRecord* record = quads.records.data();
  const QuadRecord* const end = record + DrawnQuadCount(quads);
  for (; record != end; ++record) {
    BindTexture2D(TextureNameOf(*record, textures));
    if (record->blend == kBlendAlpha) {
      glBlendFunc(GL_SRC_ALPHA, GL_ONE_MINUS_SRC_ALPHA);
    } else {
      glBlendFunc(GL_ONE, GL_ZERO);  // opaque: the quad replaces what lies under it
    }
    glBegin(GL_QUADS);
    for (int corner = 0; corner < kCornersPerQuad; ++corner) {
      glTexCoord2fv(CornerTexCoord(*record, corner));
      glVertex3fv(CornerPosition(*record, corner));
    }
    glEnd();
  }
}
