// The bridge between quadview scenes and other formats: a scene out as glTF 2.0 or OBJ, a
// model of any format Assimp reads in, and quadview's own exports back bit for bit. This
// header is the module's table of contents: the data that flows between the stages, then the
// stages of export and of import in the order data passes through them, each stage in a file
// of its own. Builds on scene/ alone; knows nothing of the command line or the terminal:
// progress and GL's limits come in as callbacks.
#pragma once

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "scene/quad_list.h"
#include "scene/scene_types.h"

// ---- What quadview's exports carry besides the geometry (quadview_data.cpp) ---------------
// glTF and OBJ have no field for a record's blend byte, its winding flag, its slot number or
// a coordinate that is not finite, and OBJ readers do not round floats exactly: the exports
// carry them as application data, which the own-export readers restore.

constexpr int kInterchangeVersion = 1;
constexpr const char* kGeneratorName = "quadscene export";
// glTF: the root object's extras hold {"quadview": {...}} with these keys.
constexpr const char* kGltfExtrasKey = "quadview";
// OBJ: the first line of the file, then application data in comments.
constexpr const char* kObjMarker = "# quadview export";
constexpr const char* kObjWinding = "# quadview winding";  // CW or CCW, for the faces that follow
constexpr const char* kObjRecord = "# quadview record";    // a record left out of the geometry
constexpr const char* kObjImage = "# quadview image";      // SLOT FILE (or "-" when untextured)
constexpr const char* kObjSource = "# quadview source";    // the quad-list file's name
constexpr const char* kObjEnd = "# quadview end";  // RECORDS: the count, the file's last line

// The material of a (slot, blend) pair: "quadview_slot_7_blend_1".
std::string MaterialName(int32_t slot, uint8_t blend);
bool ParseMaterialName(const std::string& name, int32_t& slot, uint8_t& blend);

// glTF's binary container: the header magic and version, and the two chunk types.
constexpr uint32_t kGlbMagic = 0x46546C67;  // "glTF"
constexpr uint32_t kGlbVersion = 2;
constexpr uint32_t kChunkJson = 0x4E4F534A;
constexpr uint32_t kChunkBin = 0x004E4942;

// A record travels as its 86 bytes, the table's own little-endian layout.
constexpr size_t kRecordBytes = sizeof(QuadRecord);

// A float as the eight hexadecimal digits of its bits, and back (for OBJ comments, which
// must hold infinities exactly).
std::string FloatBitsHex(float value);
bool FloatFromBitsHex(const std::string& text, float& value);

// The camera of the viewer's transform as a glTF camera node: the eye at (panX, -panY,
// -distance) in file coordinates, turned by spin degrees about z after tilt degrees about x.
struct CameraPose {
  double translation[3];
  double rotation[4];  // quaternion x, y, z, w
};
CameraPose CameraPoseOf(const CameraState& camera);

// The viewer draws each quad as the triangles (0, 1, 2) and (0, 2, 3) of its corners (GL's
// split of a quad, seen in Mesa); exports split them the same way.
constexpr int kQuadTriangles[2][3] = {{0, 1, 2}, {0, 2, 3}};

// ---- Images in other formats (image_codec.cpp) --------------------------------------------

// RGBA in the texture set's upload order: row 0 is the texture's v = 0 row, the bottom of the
// image as it is shown.
struct DecodedImage {
  int width = 0;
  int height = 0;
  std::vector<uint8_t> rgba;  // width * height * 4, bottom row first
};

// True when a width x height image can be a texture-folder image (65,535 on a side, 2 GiB
// of RGBA in all); otherwise false with `why` set.
bool FitsTextureFolder(int64_t width, int64_t height, std::string& why);

// Decodes `bytes` with stb_image (PNG, JPEG, BMP, TGA, GIF, ... as Debian's libstb reads
// them); false with `why` set when stb_image cannot, or when the image is larger than a
// texture-folder image can be.
bool DecodeImage(const uint8_t* bytes, size_t size, DecodedImage& image, std::string& why);

// An image as PNG bytes (stb_image_write). `pixels` holds `channels` bytes per pixel, the top
// row first, or the bottom row first with `bottomRowFirst`.
std::vector<uint8_t> EncodePng(int width, int height, int channels, const uint8_t* pixels,
                               bool bottomRowFirst = false);

// ---- Export: a scene out as glTF 2.0 or OBJ ----------------------------------------------
// In the file's own right-handed, +y-up frame, each quad the two triangles the viewer draws.

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

// Export stage 1 (export_read.cpp): the scene at `path` read as the viewer's load reads it
// (same walk, limits and errors), GL's maximum texture size from `maxTextureSize`, each
// image encoded as PNG.
ExportScene ReadExportScene(const std::string& path, const std::function<int32_t()>& maxTextureSize,
                            QuadListProgress& progress);

// The files written beside OUT: "STEM.bin", "STEM.mtl", "STEM_007.png" for OUT = .../STEM.ext.
std::string SiblingPath(const std::string& path, const std::string& suffix);
std::string ImagePath(const std::string& path, int slot);

// Export stage 2, glTF (export_gltf.cpp): `binary` writes one .glb; otherwise OUT.gltf with
// OUT.bin and the PNGs beside it. The camera node looks as `camera` does, with the view's
// aspect ratio. Records with a non-finite value are left out of the geometry (the
// application data keeps them).
void WriteGltf(const ExportScene& scene, const CameraState& camera, double aspectRatio,
               const std::string& path, bool binary);

// Export stage 2, OBJ (export_obj.cpp): OBJ with its MTL and the PNGs beside it; quads stay
// 4-corner faces.
void WriteObj(const ExportScene& scene, const std::string& path);

// ---- Import: a model in as a quad-list file and its texture folder -----------------------

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

// Import stage 1 (import_model.cpp): reads the model at `path` into `scene`, through one of
// the two readers below; true when it was one of quadview's own exports. Raises SceneError
// naming `path` when the model needs more than kTextureSlots images.
bool ReadModel(const std::string& path, ImportedScene& scene);

// quadview's own exports (import_own.cpp): true when `path` is one (a glTF carrying
// quadview's data, an OBJ starting with its marker); then `scene` holds it exactly as
// exported.
bool ReadOwnExport(const std::string& path, ImportedScene& scene);

// Any other model (import_assimp.cpp): read with Assimp, faces in the source's order, node
// transforms applied, each material's base colour texture (set 0) as an image, identical
// images sharing a slot.
void ReadWithAssimp(const std::string& path, ImportedScene& scene);

// Import stage 2 (import_order.cpp): the painter's order for a viewer without depth test:
// opaque records first, farthest from the start camera first, then translucent ones the
// same way.
void OrderFarFirst(ImportedScene& scene);

// Import stage 3 (import_write.cpp): writes the texture folder of `quadListPath` (images
// 000.tga ..., at least 000.tga) and then the quad list. Refuses to overwrite existing
// files, or to leave older images that would join the set, unless `force` (which removes
// those). The scene holds at most kTextureSlots images. A failure leaves nothing this call
// created. `progress` hears of every record written, with the count of all.
using RecordProgress = std::function<void(int64_t done, int64_t total)>;
void WriteImportedScene(const std::string& quadListPath, const ImportedScene& scene, bool force,
                        const RecordProgress& progress);
