// The texture set: images 000.tga, 001.tga, ... of the scene's texture folder uploaded as GL
// textures into the TextureTable, slot = image number. Needs a current GL context.
#pragma once

#include <cstdint>
#include <string>

#include "scene/scene_types.h"

// Fills `table` from the texture folder of `quadListPath`. Image 000 is read without an
// existence test (a missing one raises "Cannot open file %s"); the first missing number ends
// the set, and so does slot 1023. Slots filled before an error keep their textures.
void LoadTextureSet(const std::string& quadListPath, TextureTable& table);

// One texture from tightly packed `pixels` (width * height * 4 bytes for GL_RGBA): linear
// filters, no mipmaps, level 0, internal format 4. Returns its name; it stays bound.
uint32_t CreateTexture(uint16_t width, uint16_t height, uint32_t format, const uint8_t* pixels);
