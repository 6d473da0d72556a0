// Draws one frame of the scene with OpenGL 1.1 immediate mode: the camera transform, then
// every quad in table order with its texture and blend mode. Needs a current GL context with
// the modelview matrix current.
#pragma once

#include <cstdint>

#include "scene/scene_types.h"

void RenderFrame(const CameraState& camera, const QuadTable& quads, const TextureTable& textures);

// The texture name bound last by the renderer; starts at 0x0BADF00D and is never reset.
uint32_t LastBoundTexture();

// Number of glBindTexture calls the renderer has made since the program started.
uint64_t RendererBindCount();
