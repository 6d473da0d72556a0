// Loads a scene's numbered TGA images into GL textures, slot = image number, through the
// viewer's walk of the texture set (scene/scene_source.h). Relies on the TGA reader's module
// state (its decoded image) and on a current GL context.
#include "render/texture_set.h"

#include <GL/gl.h>

#include "render/frame_renderer.h"
#include "scene/scene_source.h"
#include "scene/texture_limits.h"
#include "scene/tga.h"

namespace {
constexpr GLint kInternalFormatFourComponents = 4;
}  // namespace

int32_t MaxTextureSize() {
  GLint size = 0;
  glGetIntegerv(GL_MAX_TEXTURE_SIZE, &size);
  return size;
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

namespace {

// The walk's decoded image as the texture of `slot`. The reader's result is ignored: rejected
// kinds still upload the image it decoded (zeros where it had nothing).
void Upload(const TgaImage& image, int slot, TextureTable& table) {
  table[static_cast<size_t>(slot)] =
      CreateTexture(image.uploadWidth, image.uploadHeight, GL_RGBA, image.UploadPixels());
}

}  // namespace

void LoadSceneLikeTheViewer(const std::string& quadListPath, TextureTable& textures,
                            QuadTable& quads, QuadListProgress& progress,
                            const std::function<void()>& betweenImages) {
  // Rows of the decoded images are tightly packed, whatever their width.
  glPixelStorei(GL_UNPACK_ALIGNMENT, 1);
  ReadSceneLikeTheViewer(quadListPath, MaxTextureSize, quads, progress,
                         [&](int slot, const TgaImage* image) {
                           if (image != nullptr) Upload(*image, slot, textures);
                           if (betweenImages) betweenImages();
                         });
}

void LoadTextureSet(const std::string& quadListPath, TextureTable& table) {
  glPixelStorei(GL_UNPACK_ALIGNMENT, 1);
  WalkTexturesLikeTheViewer(
      quadListPath, MaxTextureSize,
      [&](int slot, const std::string& path, const TgaImage* image, const std::string& refusal) {
        if (image != nullptr) {
          Upload(*image, slot, table);
        } else {
          WarnRefusedImage(path, refusal);
        }
      });
}

void ReleaseTextureSet(TextureTable& table) {
  for (uint32_t& name : table) {
    if (name != 0) glDeleteTextures(1, &name);
    name = 0;
  }
  ForgetTextureBinding();
}
