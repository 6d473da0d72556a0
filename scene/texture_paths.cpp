// Texture folder and image names of a scene.
#include "scene/texture_paths.h"

#include <cstdio>

std::string TextureFolderPrefix(const std::string& quadListPath) {
  const size_t lastSlash = quadListPath.rfind('/');
  const size_t lastDot = quadListPath.rfind('.');
  const bool hasExtension =
      lastDot != std::string::npos && (lastSlash == std::string::npos || lastDot > lastSlash);
  std::string prefix = hasExtension ? quadListPath.substr(0, lastDot) : quadListPath;
  return prefix + "/";
}

std::string TextureImagePath(const std::string& folderPrefix, int imageNumber) {
  char name[16];
  std::snprintf(name, sizeof name, "%03X.tga", static_cast<unsigned>(imageNumber));
  return folderPrefix + name;
}
