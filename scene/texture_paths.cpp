// Texture folder and image names of a scene.
#include "scene/texture_paths.h"

#include <cstdio>

#include "scene/file_access.h"
#include "scene/scene_types.h"

std::string TextureFolderPrefix(const std::string& quadListPath) {
  const size_t lastSlash = quadListPath.rfind('/');
  const size_t lastDot = quadListPath.rfind('.');
  const bool hasExtension =
      lastDot != std::string::npos && (lastSlash == std::string::npos || lastDot > lastSlash);
  const std::string prefix = hasExtension ? quadListPath.substr(0, lastDot) : quadListPath;
  // ".map" names no folder: its images lie in the current one, as those of "dir/.map" lie in
  // "dir/" (never in the root).
  if (prefix.empty()) return "./";
  if (prefix.back() == '/') return prefix;
  return prefix + "/";
}

std::string TextureImagePath(const std::string& folderPrefix, int imageNumber) {
  char name[16];
  std::snprintf(name, sizeof name, "%03X.tga", static_cast<unsigned>(imageNumber));
  return folderPrefix + name;
}

bool TextureSetContinues(const std::string& folderPrefix, int imageNumber) {
  return imageNumber < kTextureSlots && IsRegularFile(TextureImagePath(folderPrefix, imageNumber));
}
