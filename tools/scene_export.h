// quadscene export: a scene as the viewer draws it, written as glTF 2.0 (.glb, .gltf) or OBJ
// in the file's own right-handed, +y-up frame, with quadview's application data so that
// `import` can restore it exactly.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "scene/file_access.h"
#include "scene/scene_types.h"
#include "tools/cli.h"

// One image of the texture set as the export writes it: an upright PNG (upload row 0 at the
// bottom) of the texture the viewer uploads, or nothing when the viewer draws the slot
// untextured (an image it refuses, or one with no texels).
struct ExportImage {
  bool textured = false;
  int width = 0;
  int height = 0;
  std::vector<uint8_t> png;
};

struct ExportScene {
  std::string sourceName;  // the quad-list file's name, "nyc.map"
  QuadTable quads;
  std::vector<ExportImage> images;  // index = slot, one for every image of the set

  // Whether records of `slot` draw textured in the viewer.
  bool Textured(int32_t slot) const;
};

// A record whose 20 values are all finite: the only kind glTF accessors may hold.
bool IsFiniteRecord(const QuadRecord& record);

// Reads the scene at `path` as the viewer's load does (same walk, limits and errors).
ExportScene ReadExportScene(const std::string& path);

// glTF 2.0: `binary` writes one .glb; otherwise OUT.gltf with OUT.bin and the PNGs beside it.
// Records with a non-finite value are left out of the geometry (the application data keeps
// them).
void WriteGltf(const ExportScene& scene, const ViewOptions& view, const std::string& path,
               bool binary);

// OBJ with its MTL and the PNGs beside it; quads stay 4-corner faces.
void WriteObj(const ExportScene& scene, const std::string& path);

// The files written beside OUT: "STEM.bin", "STEM.mtl", "STEM_007.png" for OUT = .../STEM.ext.
std::string SiblingPath(const std::string& path, const std::string& suffix);
std::string ImagePath(const std::string& path, int slot);
