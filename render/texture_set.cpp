// Loads a scene's numbered TGA images into GL textures, slot = image number. Relies on the
// TGA reader's module state (its header step, then its decode) and on a current GL context.
#include "render/texture_set.h"

#include <GL/gl.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>

#include "render/frame_renderer.h"
#include "scene/texture_paths.h"
#include "scene/tga.h"

namespace {
constexpr GLint kInternalFormatFourComponents = 4;
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

int32_t MaxTextureSize() {
  GLint size = 0;
  glGetIntegerv(GL_MAX_TEXTURE_SIZE, &size);
  return size;
}

std::string TextureRefusal(uint32_t width, uint32_t height,
                           const std::function<int32_t()>& maxTextureSize, uint64_t budgetBytes,
                           uint64_t budgetUsedBytes) {
  const std::string size = std::to_string(width) + " x " + std::to_string(height);
  const uint32_t side = std::max(width, height);
  if (side > kTextureSideAlwaysTaken) {
    const int32_t limit = maxTextureSize();
    if (limit >= 0 && side > static_cast<uint32_t>(limit)) {
      return size + " is larger than the maximum texture size " + std::to_string(limit);
    }
  }
  const uint64_t bytes = uint64_t{width} * height * 4;
  if (budgetUsedBytes > budgetBytes || bytes > budgetBytes - budgetUsedBytes) {
    return size + " needs " + Mebibytes(bytes) + ", more than the texture budget has left (" +
           Mebibytes(budgetBytes - std::min(budgetUsedBytes, budgetBytes)) + " of " +
           Mebibytes(budgetBytes) + ")";
  }
  return std::string();
}

uint32_t CreateTexture(uint16_t width, uint16_t height, uint32_t format, const uint8_t* pixels) {
  GLuint name = 0;
  glGenTextures(1, &name);
  BindTexture2D(name);
  glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_MIN_FILTER, GL_LINEAR);
  glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_MAG_FILTER, GL_LINEAR);
  glTexImage2D(GL_TEXTURE_2D, 0, kInternalFormatFourComponents, width, height, 0, format,
               GL_UNSIGNED_BYTE, pixels);
  return name;
}

void WalkTextureSet(const std::string& quadListPath, const std::function<int32_t()>& maxTextureSize,
                    uint64_t budgetBytes, const TextureImageVisit& visit) {
  const std::string folderPrefix = TextureFolderPrefix(quadListPath);
  uint64_t budgetUsed = 0;
  int imageNumber = 0;
  do {
    const std::string path = TextureImagePath(folderPrefix, imageNumber);
    ReadTgaHeader(path);
    const TgaImage& image = LastTgaImage();
    const std::string refusal = TextureRefusal(image.uploadWidth, image.uploadHeight,
                                               maxTextureSize, budgetBytes, budgetUsed);
    if (refusal.empty()) budgetUsed += image.UploadBytes();
    visit(imageNumber, path, refusal);
    CloseTga();
    ++imageNumber;
  } while (TextureSetContinues(folderPrefix, imageNumber));
}

void WarnRefusedImage(const std::string& path, const std::string& refusal) {
  std::fprintf(stderr, "%s: warning: %s; its slot draws untextured\n", path.c_str(),
               refusal.c_str());
}

void LoadTextureSet(const std::string& quadListPath, TextureTable& table,
                    const std::function<void()>& betweenImages) {
  int32_t maxTextureSize = -1;  // asked once, when an image needs it
  const auto askMaxTextureSize = [&maxTextureSize] {
    if (maxTextureSize < 0) maxTextureSize = MaxTextureSize();
    return maxTextureSize;
  };
  // Rows of the decoded images are tightly packed, whatever their width.
  glPixelStorei(GL_UNPACK_ALIGNMENT, 1);
  WalkTextureSet(quadListPath, askMaxTextureSize, TextureBudgetBytes(),
                 [&](int imageNumber, const std::string& path, const std::string& refusal) {
                   if (refusal.empty()) {
                     // The reader's result is ignored: rejected kinds still upload the image
                     // it decoded (zeros where it had nothing).
                     DecodeTga();
                     const TgaImage& image = LastTgaImage();
                     table[static_cast<size_t>(imageNumber)] = CreateTexture(
                         image.uploadWidth, image.uploadHeight, GL_RGBA, image.UploadPixels());
                   } else {
                     std::fprintf(stderr, "%s: warning: %s; its slot draws untextured\n",
                                  path.c_str(), refusal.c_str());
                   }
                   if (betweenImages) betweenImages();
                 });
}
