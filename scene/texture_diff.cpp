// Texture sets compared slot by slot. Two files of the same bytes are the same image without
// decoding either; otherwise the old image is held decoded while the new one of the same slot
// is decoded. Each side's decodes count against the viewer's texture budget, so a folder of
// small files that declare huge images cannot make the comparison decode without end.
#include "scene/texture_diff.h"

#include <cstdint>
#include <cstring>
#include <vector>

#include "scene/file_access.h"
#include "scene/scene_error.h"
#include "scene/scene_types.h"
#include "scene/texture_limits.h"
#include "scene/texture_paths.h"
#include "scene/tga.h"

namespace {

constexpr size_t kBytesPerTexel = 4;
constexpr size_t kCompareChunkBytes = size_t{1} << 20;

// One slot's image as the reader leaves it: its size and upload texels, or why it refused it.
struct SlotImage {
  std::string path;
  std::string rejected;  // the reader's message, or the budget's refusal
  int width = 0;         // as the header declares
  int height = 0;
  int uploadWidth = 0;  // as uploaded: 1 x 1 when there is nothing to decode
  int uploadHeight = 0;
  std::string nothingToDecode;
  std::vector<uint8_t> texels;  // kept for the old side only
};

// Decodes what each side's set has decoded so far, against the budget.
struct SideBudget {
  uint64_t usedBytes = 0;
};

// Reads `path` through the TGA reader; the new side's texels stay in LastTgaImage.
SlotImage Decode(const std::string& path, SideBudget& budget, bool keepTexels) {
  SlotImage image;
  image.path = path;
  try {
    ReadTgaHeader(path);
    const TgaImage& header = LastTgaImage();
    const std::string refusal = TextureRefusal(
        header.uploadWidth, header.uploadHeight, [] { return -1; }, TextureBudgetBytes(),
        budget.usedBytes);
    if (!refusal.empty()) {
      CloseTga();
      image.rejected = path + ": " + UntexturedBecause(refusal);
      return image;
    }
    budget.usedBytes += header.UploadBytes();
    DecodeTga();
    const TgaImage& decoded = LastTgaImage();
    image.width = decoded.header.width;
    image.height = decoded.header.height;
    image.uploadWidth = decoded.uploadWidth;
    image.uploadHeight = decoded.uploadHeight;
    image.nothingToDecode = decoded.nothingToDecode;
    if (keepTexels) {
      image.texels.assign(decoded.UploadPixels(), decoded.UploadPixels() + decoded.UploadBytes());
    }
  } catch (const SceneError& error) {
    image.rejected = error.what();
    // The reader's messages mostly name the file already.
    if (image.rejected.find(path) == std::string::npos)
      image.rejected = path + ": " + image.rejected;
  }
  return image;
}

std::string Describe(const SlotImage& image) {
  if (!image.rejected.empty()) return image.rejected;
  std::string text =
      image.path + " " + std::to_string(image.width) + "x" + std::to_string(image.height);
  if (!image.nothingToDecode.empty())
    text += " (" + OneBlackTexelBecause(image.nothingToDecode) + ")";
  return text;
}

// Whether two files hold the same bytes, read a chunk at a time.
bool SameBytes(const std::string& a, const std::string& b) {
  try {
    InputFile first(a), second(b);
    if (first.Size() != second.Size()) return false;
    std::vector<uint8_t> one(kCompareChunkBytes), two(kCompareChunkBytes);
    for (;;) {
      const size_t count = first.Read(one.data(), one.size());
      if (second.Read(two.data(), two.size()) != count) return false;
      if (count == 0) return true;
      if (std::memcmp(one.data(), two.data(), count) != 0) return false;
    }
  } catch (const SceneError&) {
    return false;  // decoding will say why
  }
}

// Whether the set goes on to `slot` (the viewer reads 000.tga without asking).
bool HasImage(const std::string& prefix, int slot) {
  return slot == 0 ? IsRegularFile(TextureImagePath(prefix, 0)) : TextureSetContinues(prefix, slot);
}

// For an image whose slot the other set does not reach although a file of that name is there.
std::string PastTheEnd(const std::string& otherPath) {
  return IsRegularFile(otherPath)
             ? "; " + otherPath + " comes after a missing number, which ends its set"
             : std::string();
}

}  // namespace

void CompareTextureSets(const std::string& oldQuadListPath, const std::string& newQuadListPath,
                        const std::function<void(int slot, const std::string& text)>& visit) {
  const std::string oldPrefix = TextureFolderPrefix(oldQuadListPath);
  const std::string newPrefix = TextureFolderPrefix(newQuadListPath);
  SideBudget oldBudget, newBudget;
  bool oldGoesOn = true, newGoesOn = true;
  for (int slot = 0; slot < kTextureSlots; ++slot) {
    oldGoesOn = oldGoesOn && HasImage(oldPrefix, slot);
    newGoesOn = newGoesOn && HasImage(newPrefix, slot);
    if (!oldGoesOn && !newGoesOn) return;
    const std::string oldPath = TextureImagePath(oldPrefix, slot);
    const std::string newPath = TextureImagePath(newPrefix, slot);
    if (!newGoesOn) {
      visit(slot, "removed " + Describe(Decode(oldPath, oldBudget, false)) + PastTheEnd(newPath));
      continue;
    }
    if (!oldGoesOn) {
      visit(slot, "added " + Describe(Decode(newPath, newBudget, false)) + PastTheEnd(oldPath));
      continue;
    }
    if (SameBytes(oldPath, newPath)) continue;
    const SlotImage before = Decode(oldPath, oldBudget, true);
    const SlotImage after = Decode(newPath, newBudget, false);
    const std::string both = Describe(before) + ", " + Describe(after);
    if (!before.rejected.empty() || !after.rejected.empty()) {
      // Refused images of other bytes may draw alike or not: said, not judged.
      visit(slot, "rejected: " + both);
      continue;
    }
    if (before.width != after.width || before.height != after.height) {
      visit(slot, "other size: " + both);
      continue;
    }
    if (before.uploadWidth != after.uploadWidth || before.uploadHeight != after.uploadHeight) {
      visit(slot, "other pixels: " + both);  // one of them has nothing to decode
      continue;
    }
    const uint8_t* const texels = LastTgaImage().UploadPixels();
    const size_t count =
        static_cast<size_t>(after.uploadWidth) * static_cast<size_t>(after.uploadHeight);
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
