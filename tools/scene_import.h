// quadscene import: a 3D model in any format Assimp reads, or quadview's own export restored
// exactly, turned into a quad-list file and its texture folder.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "scene/scene_types.h"

// One image of the texture folder to write: RGBA in upload order (row 0 at v = 0), or none
// (a slot that draws untextured: written as an image of no texels).
struct ImportedImage {
  bool textured = false;
  int width = 0;
  int height = 0;
  std::vector<uint8_t> rgba;
};

struct ImportedScene {
  QuadTable records;
  std::vector<ImportedImage> images;  // index = slot
  int64_t quads = 0;
  int64_t triangles = 0;
  int64_t polygons = 0;          // faces of more than four corners
  int64_t polygonTriangles = 0;  // the records they became
  int64_t points = 0;            // skipped
  int64_t lines = 0;             // skipped
  std::vector<std::string> warnings;
};

// True when `path` is one of quadview's own exports (a glTF carrying quadview's data, an OBJ
// starting with its marker); then `scene` holds it exactly as exported.
bool ReadOwnExport(const std::string& path, ImportedScene& scene);

// Reads `path` with Assimp: faces in the source's order, node transforms applied, each
// material's base colour texture (set 0) as an image, identical images sharing a slot.
void ReadWithAssimp(const std::string& path, ImportedScene& scene);

// The painter's order for a viewer without depth test: opaque records first, farthest from
// the start camera first, then translucent ones the same way.
void OrderFarFirst(ImportedScene& scene);

// Writes the texture folder of `quadListPath` (images 000.tga ..., at least 000.tga) and then
// the quad list. Refuses to overwrite existing files, or to leave older images that would
// join the set, unless `force` (which removes those). A failure leaves nothing this call
// created. The scene holds at most kTextureSlots images.
void WriteImportedScene(const std::string& quadListPath, const ImportedScene& scene, bool force);
