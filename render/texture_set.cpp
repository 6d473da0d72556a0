// Loads a scene's numbered TGA images into GL textures, slot = image number. Relies on the
// TGA reader's module state (LastTgaImage) and on a current GL context.
#include "render/texture_set.h"

#include <GL/gl.h>

#include <filesystem>
#include <system_error>
#include <vector>

#include "scene/texture_paths.h"
#include "scene/tga.h"

namespace {
constexpr GLint kInternalFormatFourComponents = 4;
constexpr uint64_t kRgbaBytesPerPixel = 4;

// A folder (or anything else) named like an image does not count: only a regular file
// continues the set. Symbolic links to regular files do.
bool ImageFileExists(const std::string& path) {
  std::error_code error;
  return std::filesystem::is_regular_file(path, error);
}
}  // namespace

uint32_t CreateTexture(uint16_t width, uint16_t height, uint32_t format, const uint8_t* pixels) {
  GLuint name = 0;
  glGenTextures(1, &name);
  glBindTexture(GL_TEXTURE_2D, name);
  glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_MIN_FILTER, GL_LINEAR);
  glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_MAG_FILTER, GL_LINEAR);
  glTexImage2D(GL_TEXTURE_2D, 0, kInternalFormatFourComponents, width, height, 0, format,
               GL_UNSIGNED_BYTE, pixels);
  // The renderer's binding cache is deliberately not told: its first bind after a load
  // happens because its start value matches no texture name.
  return name;
}

void LoadTextureSet(const std::string& quadListPath, TextureTable& table) {
  const std::string folderPrefix = TextureFolderPrefix(quadListPath);
  // Rows of the decoded images are tightly packed, whatever their width.
  glPixelStorei(GL_UNPACK_ALIGNMENT, 1);
  int imageNumber = 0;
  while (true) {
    // Image 000 is read without an existence test, so a missing one raises the reader's
    // "Cannot open file" error. The reader's result is ignored: rejected kinds still upload
    // the RGBA image it decoded (zeros where it had nothing).
    LoadTga(TextureImagePath(folderPrefix, imageNumber));
    const TgaImage& image = LastTgaImage();
    const uint64_t uploadBytes =
        uint64_t{image.header.width} * uint64_t{image.header.height} * kRgbaBytesPerPixel;
    const uint8_t* pixels = image.rgba.data();
    std::vector<uint8_t> zeroPixels;
    if (image.rgba.size() < uploadBytes) {
      // GL reads width * height * 4 bytes; never let it read past the reader's buffer.
      zeroPixels.assign(uploadBytes, 0);
      pixels = zeroPixels.data();
    }
    table[imageNumber] = CreateTexture(image.header.width, image.header.height, GL_RGBA, pixels);
    ++imageNumber;
    // The table has no slot past 1023: a 3FF.tga ends the set even if 400.tga exists.
    if (imageNumber == kTextureSlots) break;
    if (!ImageFileExists(TextureImagePath(folderPrefix, imageNumber))) break;
  }
}
