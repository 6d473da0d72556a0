// What the texture set takes, decided from the TGA headers alone, before anything is decoded:
// the images of the set in the order the viewer loads them, and for each whether GL will take
// it (its maximum texture size, a budget of texture memory for the whole set). So no file
// can make the set hold more texture memory than its budget. No GL here: callers hand in the
// maximum texture size as a function, asked only when an image is large enough to need it.
#pragma once

#include <cstdint>
#include <functional>
#include <string>

// The texture memory the whole set may take: the lesser of 4 GiB and half of
// `physicalMemoryBytes`.
uint64_t TextureBudgetBytes(uint64_t physicalMemoryBytes);
// The same for this machine's physical memory.
uint64_t TextureBudgetBytes();

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

// Walks the images of the set the way the viewer loads them: image 000 without an existence
// test (a missing one raises "Cannot open file %s"), then each following number while
// TextureSetContinues. Reads each header (LastTgaImage) and calls `visit` with the image's
// number, path and TextureRefusal ("" for an image to upload, whose bytes then count against
// the budget); `visit` may decode it. `maxTextureSize` is asked at most once.
using TextureImageVisit =
    std::function<void(int imageNumber, const std::string& path, const std::string& refusal)>;
void WalkTextureSet(const std::string& quadListPath, const std::function<int32_t()>& maxTextureSize,
                    uint64_t budgetBytes, const TextureImageVisit& visit);

// "REFUSAL; its slot draws untextured": what every report of a refused image says.
std::string UntexturedBecause(const std::string& refusal);
// "WHY; it draws as one transparent black texel", for an image with nothing to decode
// (TgaImage::nothingToDecode).
std::string OneBlackTexelBecause(const std::string& why);
// Writes "IMAGE: warning: REFUSAL; its slot draws untextured" to stderr.
void WarnRefusedImage(const std::string& path, const std::string& refusal);
