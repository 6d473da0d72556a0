// Import's first stage: quadview's own export read exactly, here; any other model through
// Assimp, contained in a process of its own.
#include "interchange/interchange.h"
#include "scene/scene_error.h"

ModelKind ReadModel(const std::string& path, const ImportOptions& options, ImportedScene& scene,
                    ImageSink& images) {
  const bool own = ReadOwnExport(path, scene, images);
  if (!own) ReadModelContained(path, options, scene, images);
  if (scene.images > kTextureSlots) {
    throw SceneError("The scene needs " + std::to_string(scene.images) +
                         " textures; a texture folder holds at most " +
                         std::to_string(kTextureSlots),
                     path);
  }
  if (own) return ModelKind::kOwnExport;
  return scene.taggedRecords > 0 ? ModelKind::kTagged : ModelKind::kForeign;
}
