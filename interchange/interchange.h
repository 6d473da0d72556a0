// The bridge between quadview scenes and other formats, as a front-end sees it: one call that
// exports a scene (glTF 2.0, OBJ, or quadview's own JSON or binary form) and one that imports a
// model (any format Assimp reads, or quadview's own exports, back bit for bit): options in, a
// summary out. Builds on scene/ alone; knows nothing of the command line or the terminal: progress
// and GL's limits come in as callbacks. The stages behind the two calls are in stages.h.
#pragma once

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "scene/quad_list_reading.h"
#include "scene/scene_types.h"

// ---- Export ---------------------------------------------------------------------------------

// The endings of the files export writes, each a format: ".glb", ".gltf", ".obj", ".json",
// ".qvb" (the JSON form's binary twin).
extern const std::vector<std::string> kExportExtensions;

struct ExportRequest {
  std::string scenePath;  // the quad-list file, its texture folder beside it
  std::string outPath;    // ending in one of kExportExtensions (any case)
  // The view the glTF and JSON cameras take: the camera and the size of the view.
  CameraState camera;
  int width = 0;
  int height = 0;
  // GL's maximum texture size, asked only when an image is large enough to need it.
  std::function<int32_t()> maxTextureSize;
};

struct ExportSummary {
  int64_t records = 0;
  int64_t images = 0;
  // Records with a value that is not finite, left out of a glTF's or OBJ's geometry (their
  // quadview data keeps them).
  int64_t leftOut = 0;
};

// The scene read as the viewer's load reads it (same walk, limits and errors; `progress`
// hears of the quad list's bytes), written as `outPath` says, whole or not at all.
ExportSummary ExportSceneFile(const ExportRequest& request, QuadListProgress& progress);

// ---- Import ---------------------------------------------------------------------------------

struct ImportOptions {
  // Folders besides the model's own (with their subfolders) that a foreign model may read
  // files from: an asset pack's Textures/ beside its Models/ (--textures-from).
  std::vector<std::string> textureFolders;
  // Each line the contained reader writes on its stderr, as it comes (unescaped).
  std::function<void(const std::string&)> readerSaid;
};

// How import orders the records. kAuto: quadview's own exports and records back from their
// tags in their exported order, every other face after them in the painter's order for a
// viewer without depth test (opaque records first, farthest from the start camera first,
// then translucent ones the same way); kFarFirst: every record in the painter's order;
// kFile: every record in the source's order.
enum class RecordOrder { kAuto, kFarFirst, kFile };

// What a model turned out to be: quadview's own export, a model with quadview's record tags
// (an export edited in another tool), or a model from elsewhere.
enum class ModelKind { kOwnExport, kTagged, kForeign };

// Each record written, with the count of all.
using RecordProgress = std::function<void(int64_t done, int64_t total)>;

struct ImportSummary {
  ModelKind kind = ModelKind::kForeign;
  int64_t recordCount = 0;
  int64_t images = 0;
  int64_t quads = 0;
  int64_t triangles = 0;
  int64_t polygons = 0;          // faces of more than four corners
  int64_t polygonTriangles = 0;  // the records they became
  int64_t points = 0;            // skipped
  int64_t lines = 0;             // skipped
  std::vector<std::string> warnings;
  // The layers of confinement the model reader ran under.
  std::string containment;
};

struct ImportRequest {
  std::string modelPath;
  std::string outPath;  // the quad list to write: nyc.map, sanb.map or miami.map
  bool force = false;   // replace an existing scene, and remove older images past the new set
  RecordOrder order = RecordOrder::kAuto;
  // A scene whose image files are kept for images of the same texels (SceneWriter::
  // KeepImagesLike); empty for none.
  std::string imagesLike;
  ImportOptions model;
  // Once the model is read, before its records are ordered and written: what it was.
  std::function<void(const ImportSummary& read)> modelRead;
  RecordProgress recordsWritten;
};

// The model read in the contained reader, its records ordered, and the scene written as
// `outPath` with its texture folder, whole or not at all.
ImportSummary ImportModel(const ImportRequest& request);
