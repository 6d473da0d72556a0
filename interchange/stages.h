// The bridge's insides, shared by its stage files (and the tests and fuzzers of a stage): the
// module's table of contents, the data that flows between the stages, then the stages of
// export and of import in the order data passes through them, each stage in a file of its
// own. Front-ends use interchange.h alone.
#pragma once

#include <cfloat>
#include <chrono>
#include <cstdint>
#include <cstdlib>
#include <functional>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "interchange/interchange.h"
#include "scene/file_access.h"
#include "scene/png_writer.h"
#include "scene/quad_list.h"
#include "scene/record_format.h"
#include "scene/scene_types.h"
#include "scene/scene_writer.h"

namespace Assimp {
class IOSystem;
}
struct aiScene;

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

// A name (a file's, which Linux keeps as bytes) where a format demands UTF-8 text: every byte
// that is no part of a UTF-8 character, and '%' itself, as %XX; UnescapedName gives the bytes
// back ("caf%E9.map" <-> "caf\xE9.map"), decoding only such escapes (%25, %80 to %FF): "%41",
// "%2F" or "%00" stay as they are. A name that is UTF-8 without '%' stays as it is.
std::string EscapedName(const std::string& name);
std::string UnescapedName(const std::string& text);
// A percent escape as URIs and EscapedName write it ("%E9" for 0xE9), and the value of the
// hexadecimal digit of one (-1 when `c` is none).
void AppendPercentEscape(std::string& text, unsigned char byte);
int HexDigit(char c);

// The binary form (.qvb): what the JSON form holds, for programs that take whole arrays (the
// Blender add-on, through numpy). A 24-byte header: the magic "quadview", then little-endian
// u32 version (kInterchangeVersion), u32 head bytes, u64 record count; then the records, each
// its kRecordBytes as the table stores them (z negated from the file's frame); then the head:
// the JSON form's object without "records", in UTF-8, last so that a writer streams the
// records before it knows the images. The file is exactly that long.
constexpr char kBinaryMagic[8] = {'q', 'u', 'a', 'd', 'v', 'i', 'e', 'w'};
constexpr size_t kBinaryHeaderBytes = 24;
constexpr uint32_t kBinaryHeadLimitBytes = 1 << 20;

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
constexpr double kFieldOfViewRadians = kFieldOfViewDegrees * 3.14159265358979323846 / 180.0;
// The viewer's near plane is 0, which clips nothing in front of the eye; glTF asks for a
// positive one. The smallest normal float is the smallest that stays positive where shaders
// flush denormals to zero.
constexpr double kExportNearPlane = FLT_MIN;

// The viewer draws each quad as the triangles (0, 1, 2) and (0, 2, 3) of its corners (GL's
// split of a quad, seen in Mesa); exports split them the same way.
constexpr int kQuadTriangles[2][3] = {{0, 1, 2}, {0, 2, 3}};

// A record's tag, which a glTF export gives every vertex of the record as its second set of
// texture coordinates (TEXCOORD_1), the one extra datum that modelling tools keep through
// their own import and export (Blender does, with its default settings): the record's index,
// blend byte and winding, for an import to restore the order and the fields of what was edited.
struct RecordTag {
  int32_t index = 0;
  uint8_t blend = 0;
  uint8_t counterClockwise = 0;
};
// s holds the index's low 24 bits, t the marker 2^16, the index's high 7 bits, the blend byte
// and the winding bit: whole numbers below 2^24, exact in a float32 and through a tool's flip
// of v (v' = 1 - v) and back, for every index a table holds. (0, 0) and (0, 1), what a face
// made in such a tool gets, are no tags.
void EncodeRecordTag(const RecordTag& tag, float& s, float& t);
bool DecodeRecordTag(float s, float t, RecordTag& tag);

// ---- Images in other formats (image_codec.cpp) --------------------------------------------

// RGBA in the texture set's upload order: row 0 is the texture's v = 0 row, the bottom of the
// image as it is shown. The texels are stb_image's own buffer, or one from std::malloc.
struct DecodedImage {
  int width = 0;
  int height = 0;
  std::unique_ptr<uint8_t, void (*)(void*)> rgba{nullptr, std::free};  // width * height * 4
  size_t Bytes() const;
};

// True when a width x height image can be a texture-folder image (65,535 on a side, 2 GiB
// of RGBA in all); otherwise false with `why` set.
bool FitsTextureFolder(int64_t width, int64_t height, std::string& why);

// The bytes of an image: `size` bytes at `offset` of `file` (a texture file, a .glb's buffer
// view), or `size` bytes at `data` (an embedded texture).
struct ImageBytes {
  InputFile* file = nullptr;
  uint64_t offset = 0;
  const uint8_t* data = nullptr;
  uint64_t size = 0;
};

// The image's size from its header, read no further than stb_image needs; false with `why`
// set when stb_image (PNG, JPEG, BMP, TGA, GIF, ... as Debian's libstb reads them) does not
// know it, or when it is larger than a texture-folder image can be.
bool ReadImageSize(const ImageBytes& bytes, int& width, int& height, std::string& why);

// The image decoded; false with `why` set when ReadImageSize fails or stb_image cannot
// decode it.
bool DecodeImage(const ImageBytes& bytes, DecodedImage& image, std::string& why);

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
  std::string sourcePath;  // the quad-list file
  std::string sourceName;  // its name, "nyc.map"
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
// `output`, unless it is the scene's own quad-list file (by its name or through a link):
// then SceneError "Cannot write file OUTPUT: it is the scene being exported".
const std::string& OutputPath(const ExportScene& scene, const std::string& output);

// Export stage 2, glTF (export_gltf.cpp): `binary` writes one .glb; otherwise OUT.gltf with
// OUT.bin and the PNGs beside it. The camera node looks as `camera` does, with the view's
// aspect ratio. Records with a non-finite value are left out of the geometry (the
// application data keeps them).
void WriteGltf(const ExportScene& scene, const CameraState& camera, double aspectRatio,
               const std::string& path, bool binary);

// Export stage 2, OBJ (export_obj.cpp): OBJ with its MTL and the PNGs beside it; quads stay
// 4-corner faces.
void WriteObj(const ExportScene& scene, const std::string& path);

// Export stage 2, JSON (export_json.cpp): the form quadview's Blender add-on reads, every
// record as it is, quads kept, with the PNGs beside it and the camera. An object of
//   "quadview": {"version", "generator", "source": the quad list's name},
//   "camera": {"pan": [x, y], "distance", "tilt", "spin", "translation", "rotation" (the
//              glTF camera node's), "yfov", "aspectRatio", "size": [width, height]},
//   "images": one per slot, the file name of its PNG, or null where the slot draws
//             untextured,
//   "records": last, one array a record: slot, blend, winding (1 for "CCW"), then for each
//              corner x, y, z (the file's own frame, as the quad list holds them), u, v.
// Numbers are exact: each float is written as the double it is, and a value that is not
// finite as the string of its bits (FloatBitsHex). Import reads it back exactly.
void WriteJson(const ExportScene& scene, const CameraState& camera, int width, int height,
               const std::string& path);
// Export stage 2, binary (export_json.cpp): the same scene in the binary form, with the PNGs
// beside it.
void WriteBinary(const ExportScene& scene, const CameraState& camera, int width, int height,
                 const std::string& path);

// ---- Import: a model in as a quad-list file and its texture folder -----------------------
// Records collect in the scene; each image goes straight on to the texture folder being
// written (an ImageSink: the SceneWriter, or from the contained model reader the pipe to it)
// and is released, so an import never holds more than one image at a time.

// The records themselves beside the summary's counts (images: those of the texture folder,
// at most kTextureSlots).
struct ImportedScene : ImportSummary {
  QuadTable records;
  // Records 0 to taggedRecords - 1 came back from their tags, in their exported order.
  int64_t taggedRecords = 0;
  bool ownExport = false;  // quadview's own export, restored exactly
};

// Import stage 1 (import_model.cpp): reads the model at `path`, its records into `scene` and
// its images into `images`, through one of the readers below. Raises SceneError naming
// `path` when the model needs more than kTextureSlots images.
ModelKind ReadModel(const std::string& path, const ImportOptions& options, ImportedScene& scene,
                    ImageSink& images);

class ModelFileAccess;

// quadview's own exports (import_own.cpp), read in the contained reader like any model: true
// when `path` is one (a glTF carrying quadview's data, an OBJ starting with its marker, any
// .json or .qvb: the JSON or binary form, whatever wrote it); then `scene` and `images` hold it
// exactly as exported. Its files, itself included, come from `files`: an image refused there draws
// untextured, with the refusal among the warnings; a refused buffer is a SceneError that
// quotes the refusal.
bool ReadOwnExport(const std::string& path, ModelFileAccess& files, ImportedScene& scene,
                   ImageSink& images);

// Every model, contained (model_sandbox.cpp): ReadOwnExport, else ReadWithAssimp, run in a
// child process confined by ConfineModelReader under the limits of ReaderLimitsFor and a
// wall-clock limit. It asks for each file it would read, and gets a descriptor only for what
// ModelFiles allows; what it reads crosses the channel as plain data, checked again here. A
// child that crashes or runs out of time is a SceneError naming `path`, and nothing of it
// reaches the files.
void ReadModelContained(const std::string& path, const ImportOptions& options, ImportedScene& scene,
                        ImageSink& images);

// What the reader may take. The address space is an allowance above what the process holds
// when it is confined; the wall-clock limit covers every wait on it.
struct ReaderLimits {
  uint64_t addressSpaceAllowance = 0;
  uint64_t cpuSeconds = 0;
  uint64_t wallSeconds = 0;
  uint64_t textureBudgetBytes = 0;
};

// The limits for a model whose folder holds `modelBytes` bytes on disk (model_confine.cpp):
// 768 MiB (room for one 8192 x 8192 image) plus 32 bytes a byte, at most 8 GiB, of address space;
// 10 s plus 1 s for each 4 MiB, at most 600 s, of CPU time; twice the CPU time plus 10 s of
// wall-clock time.
ReaderLimits ReaderLimitsFor(uint64_t modelBytes);

// Confines the calling process, a child about to read a model whose channel to its parent is
// `channel`, the highest descriptor it keeps (model_confine.cpp): every descriptor above it
// closed (checked), its own user, mount, network and IPC namespaces with an empty root where
// the kernel allows them, the limits (address space, CPU time, file size 0, no core file), no
// capability, no new privileges, not dumpable, and a seccomp allow-list under which no call
// opens, examines or tests a file by name. `layers` says which of these held; false with
// `failure` saying why when one that must hold did not.
bool ConfineModelReader(int channel, const ReaderLimits& limits, std::string& layers,
                        std::string& failure);

class ModelChannel;

// The reader's stderr, read by the parent beside its channel: its lines handed to `heard`, at
// most 64 KiB of them, the rest dropped. The descriptor is non-blocking.
class ReaderOutput {
 public:
  ReaderOutput(int fd, std::function<void(const std::string&)> heard);
  int Fd() const { return fd_; }
  void Take();    // what is there to read now
  void Finish();  // then the last line, also without its line break

 private:
  int fd_;
  std::function<void(const std::string&)> heard_;
  std::string line_;
  size_t kept_ = 0;
};

// The reader's process (model_sandbox.cpp): `read` runs in a child confined by
// ConfineModelReader and sends through the channel it is given; this process reads the channel
// (ReadModelChannel) and the child's stderr (to `heard`) until the child's end mark and its
// exit, all within `limits.wallSeconds`. A child that is late for any of it is stopped:
// "the model reader did not finish within N s and was stopped".
void RunModelReader(const std::string& path, const ReaderLimits& limits, ModelFileAccess& files,
                    const std::function<void(ModelChannel&)>& read,
                    const std::function<void(const std::string&)>& heard, ImportedScene& scene,
                    ImageSink& images);

// How a model reader reaches the files it may read.
class ModelFileAccess {
 public:
  virtual ~ModelFileAccess() = default;
  // A descriptor open for reading on `path`, or -1 with `refusal` saying why when the file is
  // there but may not be read ("" when it is simply not there).
  virtual int Open(const std::string& path, std::string& refusal) = 0;
  virtual bool Exists(const std::string& path) = 0;
};

// The rule (model_files.cpp): regular files only, inside the model's folder or a folder of
// ImportOptions::textureFolders (with their subfolders), "../" and symbolic links resolved
// first, then opened beneath that folder's descriptor without leaving it (a link swapped in
// after the check is refused). A refusal reads "FILE lies outside the model's folder;
// --textures-from FOLDER lets the import read it".
class ModelFiles : public ModelFileAccess {
 public:
  ModelFiles(const std::string& modelPath, const std::vector<std::string>& folders);
  ~ModelFiles() override;
  ModelFiles(const ModelFiles&) = delete;
  ModelFiles& operator=(const ModelFiles&) = delete;
  int Open(const std::string& path, std::string& refusal) override;
  bool Exists(const std::string& path) override;

 private:
  struct Folder {
    std::string name;  // canonical, ending in '/'
    int fd;            // O_PATH
  };
  const Folder* Allows(const std::string& path, std::string& canonical, std::string& refusal) const;
  std::vector<Folder> folders_;
};

// Assimp's file access through `files`, read-only, each file read no further than its size;
// for Importer::SetIOHandler, which takes ownership. Files refused for lying outside the
// allowed folders are noted in `refusals`, once each.
Assimp::IOSystem* NewModelIOSystem(ModelFileAccess& files, std::vector<std::string>& refusals);

// What the child runs (import_assimp.cpp): Assimp reading through `files`, faces in the
// source's order, node transforms applied, each material an image (MaterialImages below).
void ReadWithAssimp(const std::string& path, ModelFileAccess& files, uint64_t textureBudgetBytes,
                    ImportedScene& scene, ImageSink& images);

// What a model's material becomes (import_materials.cpp), for ReadWithAssimp: an image and a
// blend mode. The image is its base colour texture of coordinate set 0 (embedded, or a file
// that `files` gives, its header read first and decoded only within `textureBudgetBytes`)
// times its base colour, or a 1 x 1 image of the colour alone; kBlendAlpha when the texture's
// alpha, the colour's or the material's mode asks for blending. Identical images share a slot
// and go to `images` when first made, a run of texels at a time, counted in `imageCount`;
// none is held but the last texture read, so materials tinting one texture in a row decode it
// once.
struct MaterialUse {
  int32_t slot = 0;
  uint8_t blend = 0;
};
class MaterialImages {
 public:
  MaterialImages(const aiScene* scene, const std::string& source, ModelFileAccess& files,
                 uint64_t textureBudgetBytes, ImageSink& images, int64_t& imageCount);
  ~MaterialImages();
  // Material `index` (below the scene's count); what of it is lost goes to `warnings`.
  MaterialUse Use(unsigned index, std::vector<std::string>& warnings);
  // Image 000, of opaque white, when no material made one: a scene of no faces needs it.
  void AddWhiteWhenNone();

 private:
  class Textures;
  class Slots;
  const aiScene* scene_;
  std::unique_ptr<Textures> textures_;
  std::unique_ptr<Slots> slots_;
};

// A face of a foreign model whose every corner carries the same record tag: its corners in
// the source's order, three or four of them, and its material's slot.
struct TaggedFace {
  RecordTag tag;
  int32_t slot = 0;
  int cornerCount = 0;
  QuadCorner corners[4];
};

// The records tagged faces were (import_tags.cpp), appended to `records`: in the order of
// their tags' indices, a tag seen again after its record's faces (a duplicate made in the
// other tool) making a second record right after it; the two triangles of each record, split
// as (0, 1, 2) and (0, 2, 3), paired back into its quad, corners in their first order; blend
// and winding from the tag, slot from the material. A triangle without its partner (the
// other deleted) stays a triangle.
void RecordsFromTags(std::vector<TaggedFace>& faces,
                     std::vector<QuadRecord, TableAllocator<QuadRecord>>& records);

// The channel between the child and this process (model_wire.cpp), a socket pair. The
// child's end: its images as they come, its file requests (answered by the parent), and at
// the end its counts, warnings and records, or the error it ended with.
class ModelChannel : public ImageSink, public ModelFileAccess {
 public:
  explicit ModelChannel(int fd) : fd_(fd) {}
  void BeginImage(int width, int height) override;
  void AddTexels(const uint8_t* rgba, size_t texels) override;
  void EndImage() override;
  int Open(const std::string& path, std::string& refusal) override;
  bool Exists(const std::string& path) override;
  void Finish(const ImportedScene& scene);
  void Fail(const std::string& message, int line);
  // Which layers of confinement held (ImportedScene::containment).
  void Note(const std::string& layers);
  int Fd() const { return fd_; }

 private:
  void Send(uint8_t type, const void* data, size_t size);
  int Ask(uint8_t question, const std::string& path, std::string& refusal);
  int fd_;
  std::map<std::string, bool> exists_;  // the answers to Exists so far
};

// The parent's end: reads what the child sends until its end mark, answering its file
// requests through `files` without ever waiting past `deadline` for the child to take an
// answer, reading its stderr into `output` meanwhile, and trusting none of it: every count
// and size is checked against the limits, the texture folder's and what has come so far
// before anything is kept, and tables grow only as records arrive. Raises the child's own
// error as a SceneError naming `path`, and SceneError for what no honest child sends; false
// when the channel closed early or `deadline` passed (the caller then asks the child's end
// why).
bool ReadModelChannel(int fd, const std::string& path,
                      std::chrono::steady_clock::time_point deadline, const ReaderLimits& limits,
                      ModelFileAccess& files, ReaderOutput& output, ImportedScene& scene,
                      ImageSink& images);

// Import stage 2 (import_order.cpp).
void OrderRecords(ImportedScene& scene, ModelKind kind, RecordOrder order);

// Import stage 3 (import_write.cpp): the records as the quad list after the images, then the
// whole scene put in place (SceneWriter::Commit). `progress` hears of every record written,
// with the count of all.
void WriteImportedScene(SceneWriter& out, const ImportedScene& scene,
                        const RecordProgress& progress);
