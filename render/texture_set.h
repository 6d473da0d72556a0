// The texture set: images 000.tga, 001.tga, ... of the scene's texture folder uploaded as GL
// textures into the TextureTable, slot = image number. Needs a current GL context. Every image
// is checked against what GL can take before it is decoded, so no file can make the set hold
// more texture memory than its budget.
#pragma once

#include <cstdint>
#include <functional>
#include <string>

#include "scene/scene_types.h"

// The texture memory the whole set may take: the lesser of 4 GiB and half of
// `physicalMemoryBytes`.
uint64_t TextureBudgetBytes(uint64_t physicalMemoryBytes);
// The same for this machine's physical memory.
uint64_t TextureBudgetBytes();

// GL_MAX_TEXTURE_SIZE of the current context.
int32_t MaxTextureSize();

// Every GL since 3.0 takes textures of this size; only larger ones are compared with what
// the context says it takes.
constexpr uint32_t kTextureSideAlwaysTaken = 1024;

// Why an upload of `width` x `height` RGBA texels will not be made (as GL itself leaves a
// texture it rejects: its slot draws untextured), or "" when it will: wider or higher than
// the maximum texture size, or more bytes than the budget has left after `budgetUsedBytes`.
// `maxTextureSize` is asked only for images larger than kTextureSideAlwaysTaken.
std::string TextureRefusal(uint32_t width, uint32_t height,
                           const std::function<int32_t()>& maxTextureSize, uint64_t budgetBytes,
                           uint64_t budgetUsedBytes);

// Walks the images of the set the way LoadTextureSet loads them: image 000 without an
// existence test (a missing one raises "Cannot open file %s"), then each following number
// while TextureSetContinues. Reads each header (LastTgaImage) and calls `visit` with the
// image's number, path and TextureRefusal ("" for an image to upload, whose bytes then count
// against the budget); `visit` may decode it.
using TextureImageVisit =
    std::function<void(int imageNumber, const std::string& path, const std::string& refusal)>;
void WalkTextureSet(const std::string& quadListPath, const std::function<int32_t()>& maxTextureSize,
                    uint64_t budgetBytes, const TextureImageVisit& visit);

// Writes "IMAGE: warning: REFUSAL; its slot draws untextured" to stderr.
void WarnRefusedImage(const std::string& path, const std::string& refusal);

// Fills `table` from the texture folder of `quadListPath` (WalkTextureSet with this context's
// maximum texture size and TextureBudgetBytes()). An image refused keeps its slot at 0 and
// writes "IMAGE: warning: REASON; its slot draws untextured" to stderr. `betweenImages` runs
// after every image (the viewer handles its pending events there). Slots filled before an
// error keep their textures.
void LoadTextureSet(const std::string& quadListPath, TextureTable& table,
                    const std::function<void()>& betweenImages = nullptr);

// One texture from tightly packed `pixels` (width * height * 4 bytes for GL_RGBA): linear
// filters, no mipmaps, level 0, internal format 4. Returns its name; it stays bound, and the
// binding cache knows it.
uint32_t CreateTexture(uint16_t width, uint16_t height, uint32_t format, const uint8_t* pixels);
