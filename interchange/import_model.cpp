// Import's first stage: quadview's own export read exactly, or any other model through Assimp.
#include "interchange/interchange.h"
#include "scene/scene_error.h"

bool ReadModel(const std::string& path, ImportedScene& scene) {
  const bool own = ReadOwnExport(path, scene);
  if (!own) ReadWithAssimp(path, scene);
  if (scene.images.size() > static_cast<size_t>(kTextureSlots)) {
    throw SceneError("The scene needs " + std::to_string(scene.images.size()) +
                         " textures; a texture folder holds at most " +
                         std::to_string(kTextureSlots),
                     path);
  }
  return own;
}
