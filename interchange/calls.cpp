// The two calls of interchange.h, export's stages for one scene and import's for one model
// (a unit of its own, so that the public header and the stages do not include each other).
#include <stdexcept>

#include "interchange/interchange.h"
#include "interchange/stages.h"
#include "scene/file_access.h"

const std::vector<std::string> kExportExtensions = {".glb", ".gltf", ".obj", ".json", ".qvb"};

ExportSummary ExportSceneFile(const ExportRequest& request, QuadListProgress& progress) {
  const ExportScene scene = ReadExportScene(request.scenePath, request.maxTextureSize, progress);
  const std::string extension = LowerExtension(request.outPath);
  if (extension == ".obj") {
    WriteObj(scene, request.outPath);
  } else if (extension == ".json") {
    WriteJson(scene, request.camera, request.width, request.height, request.outPath);
  } else if (extension == ".qvb") {
    WriteBinary(scene, request.camera, request.width, request.height, request.outPath);
  } else if (extension == ".glb" || extension == ".gltf") {
    WriteGltf(scene, request.camera, static_cast<double>(request.width) / request.height,
              request.outPath, extension == ".glb");
  } else {
    throw std::invalid_argument("export writes no " + extension + " file");
  }
  ExportSummary summary;
  summary.records = scene.quads.count;
  summary.images = static_cast<int64_t>(scene.images.size());
  // The JSON and binary forms hold every record in their own right; glTF and OBJ geometry
  // cannot.
  if (extension != ".json" && extension != ".qvb") {
    for (int32_t i = 0; i < scene.quads.count; ++i) {
      summary.leftOut += IsFiniteRecord(scene.quads.records[static_cast<size_t>(i)]) ? 0 : 1;
    }
  }
  return summary;
}

ImportSummary ImportModel(const ImportRequest& request) {
  SceneWriter out(request.outPath, request.force, "the imported texture set");
  if (!request.imagesLike.empty()) out.KeepImagesLike(request.imagesLike);
  ImportedScene scene;
  scene.kind = ReadModel(request.modelPath, request.model, scene, out);
  if (request.modelRead) request.modelRead(scene);
  OrderRecords(scene, scene.kind, request.order);
  WriteImportedScene(
      out, scene, request.recordsWritten ? request.recordsWritten : [](int64_t, int64_t) {});
  ImportSummary summary = scene;
  summary.recordCount = scene.records.count;
  return summary;
}
