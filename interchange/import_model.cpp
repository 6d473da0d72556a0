// Import's first stage: every model read in the contained reader, quadview's own export
// exactly, any other model through Assimp.
#include "interchange/stages.h"
#include "scene/scene_error.h"

ModelKind ReadModel(const std::string& path, const ImportOptions& options, ImportedScene& scene,
                    ImageSink& images) {
  ReadModelContained(path, options, scene, images);
  if (scene.images > kTextureSlots) {
    throw SceneError("The scene needs " + std::to_string(scene.images) +
                         " textures; a texture folder holds at most " +
                         std::to_string(kTextureSlots),
                     path);
  }
  if (scene.ownExport) return ModelKind::kOwnExport;
  return scene.taggedRecords > 0 ? ModelKind::kTagged : ModelKind::kForeign;
}
