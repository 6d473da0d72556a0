// Export's first stage: the scene read as the viewer's load reads it, each image of the set
// as the PNG of the texture the viewer uploads; and what the glTF and OBJ writers share.
#include <cmath>
#include <cstdio>

#include "interchange/stages.h"
#include "scene/file_access.h"
#include "scene/scene_error.h"
#include "scene/scene_source.h"

bool ExportScene::Textured(int32_t slot) const {
  return slot >= 0 && static_cast<size_t>(slot) < images.size() &&
         images[static_cast<size_t>(slot)].textured;
}

ExportScene ReadExportScene(const std::string& path, const std::function<int32_t()>& maxTextureSize,
                            QuadListProgress& progress) {
  ExportScene scene;
  scene.sourcePath = path;
  scene.sourceName = FileNameOf(path);
  ReadSceneLikeTheViewer(
      path, maxTextureSize, scene.quads, progress, [&scene](int slot, const TgaImage* image) {
        ExportImage exported;
        // A texture of no texels is incomplete in GL: its slot draws untextured.
        if (image != nullptr && image->UploadBytes() > 0) {
          exported.textured = true;
          exported.width = image->uploadWidth;
          exported.height = image->uploadHeight;
          exported.png = EncodePng(exported.width, exported.height, 4, image->UploadPixels(), true);
        }
        scene.images.resize(static_cast<size_t>(slot) + 1);
        scene.images[static_cast<size_t>(slot)] = std::move(exported);
      });
  return scene;
}

const std::string& OutputPath(const ExportScene& scene, const std::string& output) {
  if (SameFileNode(scene.sourcePath, output)) {
    throw SceneError("Cannot write file " + output + ": it is the scene being exported");
  }
  return output;
}

std::string SiblingPath(const std::string& path, const std::string& suffix) {
  return path.substr(0, path.size() - LowerExtension(path).size()) + suffix;
}

std::string ImagePath(const std::string& path, int slot) {
  char suffix[16];
  std::snprintf(suffix, sizeof suffix, "_%03X.png", static_cast<unsigned>(slot));
  return SiblingPath(path, suffix);
}
