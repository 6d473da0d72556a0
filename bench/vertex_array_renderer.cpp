// Benchmark-only vertex-array drawing of a scene; see vertex_array_renderer.h. Reuses
// RenderFrame with an empty table for the clear and the camera transform, so both paths
// share them exactly.
#include "bench/vertex_array_renderer.h"

#include <GL/gl.h>

#include <algorithm>
#include <cstring>

#include "render/frame_renderer.h"

namespace {
constexpr int kCornersPerQuad = 4;
constexpr int kFloatsPerCorner = 5;  // u, v, x, y, z
}  // namespace

VertexArrayScene BuildVertexArrayScene(const QuadTable& quads, const TextureTable& textures) {
  VertexArrayScene scene;
  const size_t quadCount = DrawnQuadCount(quads);
  scene.vertices.resize(quadCount * kCornersPerQuad * kFloatsPerCorner);
  float* out = scene.vertices.data();
  for (size_t i = 0; i < quadCount; ++i) {
    const QuadRecord& record = quads.records[i];
    // A packed record's corners are contiguous: copy all four (20 bytes each) at once.
    std::memcpy(out, CornerTexCoord(record, 0), sizeof(QuadCorner) * kCornersPerQuad);
    out += kCornersPerQuad * kFloatsPerCorner;
    const uint32_t name = TextureNameOf(record, textures);
    const bool alphaBlend = record.blend == kBlendAlpha;
    if (scene.runs.empty() || scene.runs.back().texture != name ||
        scene.runs.back().alphaBlend != alphaBlend) {
      scene.runs.push_back(
          VertexArrayRun{name, alphaBlend, static_cast<int32_t>(i * kCornersPerQuad), 0});
    }
    scene.runs.back().vertexCount += kCornersPerQuad;
  }
  return scene;
}

void DrawVertexArrayFrame(const CameraState& camera, const VertexArrayScene& scene) {
  RenderFrame(camera, QuadTable{}, TextureTable{});
  glInterleavedArrays(GL_T2F_V3F, 0, scene.vertices.data());
  for (const VertexArrayRun& run : scene.runs) {
    glBindTexture(GL_TEXTURE_2D, run.texture);
    if (run.alphaBlend) {
      glBlendFunc(GL_SRC_ALPHA, GL_ONE_MINUS_SRC_ALPHA);
    } else {
      glBlendFunc(GL_ONE, GL_ZERO);
    }
    glDrawArrays(GL_QUADS, run.firstVertex, run.vertexCount);
  }
  glDisableClientState(GL_VERTEX_ARRAY);
  glDisableClientState(GL_TEXTURE_COORD_ARRAY);
}
