// Benchmark-only: the frame of RenderFrame drawn from client-side vertex arrays, one
// glDrawArrays per run of consecutive quads sharing texture name and blend kind. Measures what
// immediate mode costs; the viewer never uses it. Needs a current GL context.
#pragma once

#include <cstdint>
#include <vector>

#include "scene/scene_types.h"

struct VertexArrayRun {
  uint32_t texture = 0;
  bool alphaBlend = false;
  int32_t firstVertex = 0;
  int32_t vertexCount = 0;
};

// Corners as GL_T2F_V3F (u, v, x, y, z), four per quad in table order, and the runs.
struct VertexArrayScene {
  std::vector<float> vertices;
  std::vector<VertexArrayRun> runs;
};

// Texture names are looked up once here, as RenderFrame would per quad.
VertexArrayScene BuildVertexArrayScene(const QuadTable& quads, const TextureTable& textures);

// Same clear, transform and state as RenderFrame, then the runs.
void DrawVertexArrayFrame(const CameraState& camera, const VertexArrayScene& scene);
