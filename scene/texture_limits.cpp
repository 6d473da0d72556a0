// Texture limits from TGA headers alone. Relies on the TGA reader's module state: its header
// step here, its decode in the visitor.
#include "scene/texture_limits.h"

#include <unistd.h>

#include <algorithm>
#include <cstdio>

#include "scene/texture_paths.h"
#include "scene/tga.h"

namespace {
constexpr uint64_t kMebibyte = uint64_t(1) << 20;
constexpr uint64_t kBudgetCeilingBytes = uint64_t(4) << 30;

std::string Mebibytes(uint64_t bytes) {
  return std::to_string((bytes + kMebibyte - 1) / kMebibyte) + " MiB";
}
}  // namespace

uint64_t TextureBudgetBytes(uint64_t physicalMemoryBytes) {
  return std::min(kBudgetCeilingBytes, physicalMemoryBytes / 2);
}

uint64_t TextureBudgetBytes() {
  const long pages = ::sysconf(_SC_PHYS_PAGES);
  const long pageBytes = ::sysconf(_SC_PAGE_SIZE);
  if (pages <= 0 || pageBytes <= 0) return kBudgetCeilingBytes;
  return TextureBudgetBytes(static_cast<uint64_t>(pages) * static_cast<uint64_t>(pageBytes));
}

std::string TextureRefusal(uint32_t width, uint32_t height,
                           const std::function<int32_t()>& maxTextureSize, uint64_t budgetBytes,
                           uint64_t budgetUsedBytes) {
  const auto size = [&] { return std::to_string(width) + " x " + std::to_string(height); };
  const uint32_t side = std::max(width, height);
  if (side > kTextureSideAlwaysTaken) {
    const int32_t limit = maxTextureSize();
    if (limit >= 0 && side > static_cast<uint32_t>(limit)) {
      return size() + " is larger than the maximum texture size " + std::to_string(limit);
    }
  }
  const uint64_t bytes = uint64_t{width} * height * 4;
  if (budgetUsedBytes > budgetBytes || bytes > budgetBytes - budgetUsedBytes) {
    return size() + " needs " + Mebibytes(bytes) + ", more than the texture budget has left (" +
           Mebibytes(budgetBytes - std::min(budgetUsedBytes, budgetBytes)) + " of " +
           Mebibytes(budgetBytes) + ")";
  }
  return std::string();
}

void WalkTextureSet(const std::string& quadListPath, const std::function<int32_t()>& maxTextureSize,
                    uint64_t budgetBytes, const TextureImageVisit& visit) {
  const std::string folderPrefix = TextureFolderPrefix(quadListPath);
  int32_t limit = 0;
  bool asked = false;
  const std::function<int32_t()> askOnce = [&] {
    if (!asked) limit = maxTextureSize();
    asked = true;
    return limit;
  };
  uint64_t budgetUsed = 0;
  int imageNumber = 0;
  do {
    const std::string path = TextureImagePath(folderPrefix, imageNumber);
    ReadTgaHeader(path);
    const TgaImage& image = LastTgaImage();
    const std::string refusal =
        TextureRefusal(image.uploadWidth, image.uploadHeight, askOnce, budgetBytes, budgetUsed);
    if (refusal.empty()) budgetUsed += image.UploadBytes();
    visit(imageNumber, path, refusal);
    CloseTga();
    ++imageNumber;
  } while (TextureSetContinues(folderPrefix, imageNumber));
}

std::string UntexturedBecause(const std::string& refusal) {
  return refusal + "; its slot draws untextured";
}

std::string OneBlackTexelBecause(const std::string& why) {
  return why + "; it draws as one transparent black texel";
}

void WarnRefusedImage(const std::string& path, const std::string& refusal) {
  std::fprintf(stderr, "%s: warning: %s\n", path.c_str(), UntexturedBecause(refusal).c_str());
}
