// The texture set: images 000.tga, 001.tga, ... of the scene's texture folder uploaded as GL
// textures into the TextureTable, slot = image number, within the texture limits, in the
// viewer's load order (scene/scene_source.h). Needs a current GL context.
#pragma once

#include <cstdint>
#include <functional>
#include <string>

#include "scene/quad_list_reading.h"
#include "scene/scene_types.h"

// GL_MAX_TEXTURE_SIZE of the current context.
int32_t MaxTextureSize();

// The viewer's load into GL: ReadSceneLikeTheViewer with this context's maximum texture size,
// each image it uploads made a texture in `textures` (slot = image number), `betweenImages`
// run after every image (the viewer handles its pending events there), then the quad list
// read into `quads`. Errors propagate; slots filled before one keep their textures.
void LoadSceneLikeTheViewer(const std::string& quadListPath, TextureTable& textures,
                            QuadTable& quads, QuadListProgress& progress,
                            const std::function<void()>& betweenImages = nullptr);

// The texture set alone, as LoadSceneLikeTheViewer loads it (WalkTexturesLikeTheViewer with
// this context's maximum texture size): an image refused keeps its slot at 0 and writes
// "IMAGE: warning: REASON; its slot draws untextured" to stderr.
void LoadTextureSet(const std::string& quadListPath, TextureTable& table);

// Deletes every texture of `table` and empties it; the binding cache forgets, as GL may hand
// the freed names out again. Needs the context the textures were made in.
void ReleaseTextureSet(TextureTable& table);

// One texture from tightly packed `pixels` (width * height * 4 bytes for GL_RGBA): linear
// filters, no mipmaps, level 0, internal format 4. Returns its name; it stays bound, and the
// binding cache knows it.
uint32_t CreateTexture(uint16_t width, uint16_t height, uint32_t format, const uint8_t* pixels);
