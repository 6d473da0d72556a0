// Texture sets compared slot by slot. Holds one decoded image of the old set while the new
// set's image of the same slot is decoded, so memory stays at two images whatever the sets.
#include "scene/texture_diff.h"

#include <cstdint>
#include <cstring>
#include <vector>

#include "scene/file_access.h"
#include "scene/scene_error.h"
#include "scene/scene_types.h"
#include "scene/texture_paths.h"
#include "scene/tga.h"

namespace {

constexpr size_t kBytesPerTexel = 4;

// One slot's image as the reader leaves it: its upload size and texels, or why it refused it.
struct SlotImage {
  std::string path;
  std::string rejected;  // the reader's message; empty when it decoded the image
  int width = 0;
  int height = 0;
  std::vector<uint8_t> texels;  // kept for the old side only
};

// Reads `path` through the TGA reader; the texels stay in LastTgaImage.
SlotImage Decode(const std::string& path, bool keepTexels) {
  SlotImage image;
  image.path = path;
  try {
    LoadTga(path);
    const TgaImage& decoded = LastTgaImage();
    image.width = decoded.uploadWidth;
    image.height = decoded.uploadHeight;
    if (keepTexels) {
      image.texels.assign(decoded.UploadPixels(), decoded.UploadPixels() + decoded.UploadBytes());
    }
  } catch (const SceneError& error) {
    image.rejected = error.what();
  }
  return image;
}

std::string Describe(const SlotImage& image) {
  if (!image.rejected.empty()) {
    // The reader's messages mostly name the file already.
    if (image.rejected.find(image.path) != std::string::npos) return image.rejected;
    return image.path + ": " + image.rejected;
  }
  return image.path + " " + std::to_string(image.width) + "x" + std::to_string(image.height);
}

// Whether the set goes on to `slot` (the viewer reads 000.tga without asking).
bool HasImage(const std::string& prefix, int slot) {
  return slot == 0 ? IsRegularFile(TextureImagePath(prefix, 0)) : TextureSetContinues(prefix, slot);
}

}  // namespace

void CompareTextureSets(const std::string& oldQuadListPath, const std::string& newQuadListPath,
                        const std::function<void(int slot, const std::string& text)>& visit) {
  const std::string oldPrefix = TextureFolderPrefix(oldQuadListPath);
  const std::string newPrefix = TextureFolderPrefix(newQuadListPath);
  bool oldGoesOn = true, newGoesOn = true;
  for (int slot = 0; slot < kTextureSlots; ++slot) {
    oldGoesOn = oldGoesOn && HasImage(oldPrefix, slot);
    newGoesOn = newGoesOn && HasImage(newPrefix, slot);
    if (!oldGoesOn && !newGoesOn) return;
    if (!newGoesOn) {
      visit(slot, "removed " + Describe(Decode(TextureImagePath(oldPrefix, slot), false)));
      continue;
    }
    if (!oldGoesOn) {
      visit(slot, "added " + Describe(Decode(TextureImagePath(newPrefix, slot), false)));
      continue;
    }
    const SlotImage before = Decode(TextureImagePath(oldPrefix, slot), true);
    const SlotImage after = Decode(TextureImagePath(newPrefix, slot), false);
    const std::string both = Describe(before) + ", " + Describe(after);
    if (!before.rejected.empty() || !after.rejected.empty()) {
      if (before.rejected.empty() || after.rejected.empty()) visit(slot, "rejected: " + both);
      continue;
    }
    if (before.width != after.width || before.height != after.height) {
      visit(slot, "other size: " + both);
      continue;
    }
    const uint8_t* const texels = LastTgaImage().UploadPixels();
    const size_t count = static_cast<size_t>(after.width) * static_cast<size_t>(after.height);
    size_t differing = 0;
    for (size_t texel = 0; texel < count; ++texel) {
      differing += std::memcmp(before.texels.data() + texel * kBytesPerTexel,
                               texels + texel * kBytesPerTexel, kBytesPerTexel) != 0;
    }
    if (differing > 0) {
      visit(slot, "other pixels: " + both + ": " + std::to_string(differing) + " of " +
                      std::to_string(count) + " differ");
    }
  }
}
