// The glTF 2.0 writer of quadscene export, with nlohmann-json for the document. Geometry in
// file coordinates (z as the file holds it), two triangles a quad split as the viewer's GL
// splits it, one primitive per run of records sharing slot and blend, in table order. Every
// material is unlit and double-sided; texture coordinates have v turned to glTF's downward
// v, so that with the upright PNG every (u, v) samples the texel the viewer samples; a second
// set of texture coordinates tags each vertex with its record (EncodeRecordTag). Every
// record, as its exact bytes, rides along in a buffer view named in the root's extras.
// The binary buffer is laid out first and then streamed to the file view by view, so the
// export holds the table and the PNGs, never a second copy of the scene.
#include <algorithm>
#include <cstring>
#include <functional>
#include <map>
#include <nlohmann/json.hpp>
#include <string>
#include <utility>
#include <vector>

#include "interchange/stages.h"
#include "scene/file_access.h"
#include "scene/scene_error.h"

namespace {

using nlohmann::json;

constexpr int kArrayBuffer = 34962;
constexpr int kElementArrayBuffer = 34963;
constexpr int kFloat = 5126;
constexpr int kUnsignedInt = 5125;
constexpr int kTriangles = 4;
constexpr int kLinear = 9729;
constexpr int kRepeat = 10497;

// The binary buffer: views laid out 4-byte aligned, each with what writes its bytes, so the
// document can name every offset before a byte is written.
class Buffer {
 public:
  using Producer = std::function<void(OutputFile&)>;

  // Lays out a view of `size` bytes that `produce` writes, and returns its index. Vertex views
  // that several accessors share need their stride spelled out.
  int AddView(size_t size, Producer produce, int target = 0, size_t stride = 0) {
    size_ = (size_ + 3) / 4 * 4;
    json view = {{"buffer", 0}, {"byteOffset", size_}, {"byteLength", size}};
    if (target != 0) view["target"] = target;
    if (stride != 0) view["byteStride"] = stride;
    views_.push_back(std::move(view));
    producers_.push_back(Section{size_, size, std::move(produce)});
    size_ += size;
    return static_cast<int>(views_.size() - 1);
  }
  // The buffer's length, padded to a multiple of 4 as a .glb chunk needs.
  size_t Size() const { return (size_ + 3) / 4 * 4; }
  json& Views() { return views_; }

  // Writes the whole buffer: each view at its offset, zeros between.
  void WriteTo(OutputFile& out) const {
    static const char kZeros[4] = {};
    size_t at = 0;
    for (const Section& section : producers_) {
      out.Write(kZeros, section.offset - at);
      section.produce(out);
      at = section.offset + section.size;
    }
    out.Write(kZeros, Size() - at);
  }

 private:
  struct Section {
    size_t offset;
    size_t size;
    Producer produce;
  };
  size_t size_ = 0;
  json views_ = json::array();
  std::vector<Section> producers_;
};

// A run of consecutive finite records sharing slot and blend.
struct Run {
  int32_t slot;
  uint8_t blend;
  size_t firstVertex;
  size_t quads;
  float low[3];  // bounds of its positions
  float high[3];
};

// A corner's position in the file's frame.
void PositionOf(const QuadCorner& corner, float out[3]) {
  out[0] = corner.x;
  out[1] = corner.y;
  out[2] = -corner.z;
}

// Percent-encodes what a relative URI may not hold as it is.
std::string UriOf(const std::string& fileName) {
  std::string uri;
  for (unsigned char c : fileName) {
    const bool plain = (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9') ||
                       c == '-' || c == '_' || c == '.' || c == '~';
    if (plain) {
      uri += static_cast<char>(c);
    } else {
      AppendPercentEscape(uri, c);
    }
  }
  return uri;
}

// Writes kPerRecord values for each finite record, in table order, through a small block.
template <typename Value, size_t kPerRecord, typename Fill>
void WriteFiniteRecords(OutputFile& out, const QuadTable& quads, Fill fill) {
  constexpr size_t kBlockRecords = 4096;
  std::vector<Value> block;
  block.reserve(kBlockRecords * kPerRecord);
  for (int32_t i = 0; i < quads.count; ++i) {
    const QuadRecord& record = quads.records[static_cast<size_t>(i)];
    if (!IsFiniteRecord(record)) continue;
    block.resize(block.size() + kPerRecord);
    fill(i, record, &block[block.size() - kPerRecord]);
    if (block.size() == block.capacity()) {
      out.Write(block.data(), block.size() * sizeof(Value));
      block.clear();
    }
  }
  out.Write(block.data(), block.size() * sizeof(Value));
}

void AppendLittleEndian32(std::vector<uint8_t>& out, uint32_t value) {
  for (int shift = 0; shift < 32; shift += 8) out.push_back(static_cast<uint8_t>(value >> shift));
}

}  // namespace

void WriteGltf(const ExportScene& scene, const CameraState& camera, double aspectRatio,
               const std::string& path, bool binary) {
  Buffer buffer;
  json accessors = json::array();
  json materials = json::array();
  std::map<std::pair<int32_t, uint8_t>, int> materialOf;

  // The runs of finite records in table order, with the bounds of their positions.
  std::vector<Run> runs;
  size_t vertexCount = 0;
  const QuadTable& quads = scene.quads;
  for (int32_t i = 0; i < quads.count; ++i) {
    const QuadRecord& record = quads.records[static_cast<size_t>(i)];
    if (!IsFiniteRecord(record)) continue;
    float position[3];
    if (runs.empty() || runs.back().slot != record.textureIndex ||
        runs.back().blend != record.blend) {
      PositionOf(record.corners[0], position);
      runs.push_back(Run{record.textureIndex,
                         record.blend,
                         vertexCount,
                         0,
                         {position[0], position[1], position[2]},
                         {position[0], position[1], position[2]}});
    }
    Run& run = runs.back();
    for (const QuadCorner& corner : record.corners) {
      PositionOf(corner, position);
      for (int k = 0; k < 3; ++k) {
        run.low[k] = std::min(run.low[k], position[k]);
        run.high[k] = std::max(run.high[k], position[k]);
      }
    }
    ++run.quads;
    vertexCount += 4;
  }

  // Images: every image of the set, so that an import gets the whole set back; textures only
  // for the slots a material uses.
  json images = json::array();
  json textures = json::array();
  json imageList = json::array();
  std::map<int32_t, int> imageOfSlot;
  std::vector<std::pair<std::string, const ExportImage*>> imageFiles;
  for (size_t slot = 0; slot < scene.images.size(); ++slot) {
    const ExportImage& image = scene.images[slot];
    if (!image.textured) {
      imageList.push_back({{"slot", slot}, {"untextured", true}});
      continue;
    }
    json entry = {{"name", "slot " + std::to_string(slot)}};
    if (binary) {
      entry["bufferView"] = buffer.AddView(image.png.size(), [&image](OutputFile& out) {
        out.Write(image.png.data(), image.png.size());
      });
      entry["mimeType"] = "image/png";
    } else {
      const std::string file = ImagePath(path, static_cast<int>(slot));
      entry["uri"] = UriOf(FileNameOf(file));
      imageFiles.emplace_back(file, &image);
    }
    imageOfSlot[static_cast<int32_t>(slot)] = static_cast<int>(images.size());
    imageList.push_back({{"slot", slot}, {"image", images.size()}});
    images.push_back(std::move(entry));
  }
  std::map<int32_t, int> textureOfSlot;
  auto materialFor = [&](int32_t slot, uint8_t blend) {
    const auto key = std::make_pair(slot, blend);
    const auto found = materialOf.find(key);
    if (found != materialOf.end()) return found->second;
    json pbr = {{"baseColorFactor", {1.0, 1.0, 1.0, 1.0}},
                {"metallicFactor", 0.0},
                {"roughnessFactor", 1.0}};
    if (scene.Textured(slot)) {
      if (textureOfSlot.count(slot) == 0) {
        textureOfSlot[slot] = static_cast<int>(textures.size());
        textures.push_back({{"sampler", 0}, {"source", imageOfSlot.at(slot)}});
      }
      pbr["baseColorTexture"] = {{"index", textureOfSlot[slot]}};
    }
    materials.push_back({{"name", MaterialName(slot, blend)},
                         {"pbrMetallicRoughness", pbr},
                         {"alphaMode", blend == kBlendAlpha ? "BLEND" : "OPAQUE"},
                         {"doubleSided", true},
                         {"extensions", {{"KHR_materials_unlit", json::object()}}},
                         {"extras", {{"slot", slot}, {"blend", blend}}}});
    materialOf[key] = static_cast<int>(materials.size() - 1);
    return materialOf[key];
  };

  json primitives = json::array();
  if (!runs.empty()) {
    const int positionView = buffer.AddView(
        vertexCount * 3 * sizeof(float),
        [&quads](OutputFile& out) {
          WriteFiniteRecords<float, 12>(out, quads,
                                        [](int32_t, const QuadRecord& record, float* values) {
                                          for (const QuadCorner& corner : record.corners) {
                                            PositionOf(corner, values);
                                            values += 3;
                                          }
                                        });
        },
        kArrayBuffer, 3 * sizeof(float));
    const int texcoordView = buffer.AddView(
        vertexCount * 2 * sizeof(float),
        [&quads](OutputFile& out) {
          WriteFiniteRecords<float, 8>(out, quads,
                                       [](int32_t, const QuadRecord& record, float* values) {
                                         for (const QuadCorner& corner : record.corners) {
                                           *values++ = corner.u;
                                           *values++ = 1.0f - corner.v;
                                         }
                                       });
        },
        kArrayBuffer, 2 * sizeof(float));
    // Every vertex of a record carries the record's tag, for an import after another tool.
    const int tagView = buffer.AddView(
        vertexCount * 2 * sizeof(float),
        [&quads](OutputFile& out) {
          WriteFiniteRecords<float, 8>(
              out, quads, [](int32_t index, const QuadRecord& record, float* values) {
                float s = 0, t = 0;
                EncodeRecordTag(RecordTag{index, record.blend, record.counterClockwise}, s, t);
                for (int corner = 0; corner < 4; ++corner) {
                  *values++ = s;
                  *values++ = t;
                }
              });
        },
        kArrayBuffer, 2 * sizeof(float));
    const int indexView = buffer.AddView(
        vertexCount / 4 * 6 * sizeof(uint32_t),
        [&runs](OutputFile& out) {
          std::vector<uint32_t> block;
          for (const Run& run : runs) {
            for (size_t quad = 0; quad < run.quads; ++quad) {
              const uint32_t local = static_cast<uint32_t>(quad * 4);
              for (const int(&triangle)[3] : kQuadTriangles) {
                for (int corner : triangle) block.push_back(local + static_cast<uint32_t>(corner));
              }
              if (block.size() >= 6 * 4096) {
                out.Write(block.data(), block.size() * sizeof(uint32_t));
                block.clear();
              }
            }
          }
          out.Write(block.data(), block.size() * sizeof(uint32_t));
        },
        kElementArrayBuffer);
    for (const Run& run : runs) {
      const size_t vertices = run.quads * 4;
      const int position = static_cast<int>(accessors.size());
      accessors.push_back({{"bufferView", positionView},
                           {"byteOffset", run.firstVertex * 3 * sizeof(float)},
                           {"componentType", kFloat},
                           {"count", vertices},
                           {"type", "VEC3"},
                           {"min", {run.low[0], run.low[1], run.low[2]}},
                           {"max", {run.high[0], run.high[1], run.high[2]}}});
      accessors.push_back({{"bufferView", texcoordView},
                           {"byteOffset", run.firstVertex * 2 * sizeof(float)},
                           {"componentType", kFloat},
                           {"count", vertices},
                           {"type", "VEC2"}});
      accessors.push_back({{"bufferView", tagView},
                           {"byteOffset", run.firstVertex * 2 * sizeof(float)},
                           {"componentType", kFloat},
                           {"count", vertices},
                           {"type", "VEC2"}});
      accessors.push_back({{"bufferView", indexView},
                           {"byteOffset", run.firstVertex / 4 * 6 * sizeof(uint32_t)},
                           {"componentType", kUnsignedInt},
                           {"count", run.quads * 6},
                           {"type", "SCALAR"}});
      primitives.push_back(
          {{"attributes",
            {{"POSITION", position}, {"TEXCOORD_0", position + 1}, {"TEXCOORD_1", position + 2}}},
           {"indices", position + 3},
           {"material", materialFor(run.slot, run.blend)},
           {"mode", kTriangles}});
    }
  }

  // Every record, exactly: what the geometry leaves out or cannot say. The table's storage
  // is the records' bytes as they are.
  json quadview = {{"version", kInterchangeVersion},
                   {"source", EscapedName(scene.sourceName)},
                   {"recordCount", quads.count},
                   {"images", imageList}};
  if (quads.count > 0) {
    const size_t size = static_cast<size_t>(quads.count) * kRecordBytes;
    quadview["records"] = buffer.AddView(
        size, [&quads, size](OutputFile& out) { out.Write(quads.records.data(), size); });
  }

  const CameraPose pose = CameraPoseOf(camera);
  json nodes = json::array();
  json sceneNodes = json::array();
  if (!primitives.empty()) {
    nodes.push_back({{"name", EscapedName(scene.sourceName)}, {"mesh", 0}});
    sceneNodes.push_back(0);
  }
  nodes.push_back(
      {{"name", "quadview camera"},
       {"camera", 0},
       {"translation", {pose.translation[0], pose.translation[1], pose.translation[2]}},
       {"rotation", {pose.rotation[0], pose.rotation[1], pose.rotation[2], pose.rotation[3]}}});
  sceneNodes.push_back(nodes.size() - 1);

  json doc = {
      {"asset", {{"version", "2.0"}, {"generator", kGeneratorName}}},
      {"extensionsUsed", {"KHR_materials_unlit"}},
      {"scene", 0},
      {"scenes", {{{"name", EscapedName(scene.sourceName)}, {"nodes", sceneNodes}}}},
      {"nodes", nodes},
      {"cameras",
       {{{"type", "perspective"},
         {"perspective",
          {{"yfov", kFieldOfViewRadians},
           {"aspectRatio", aspectRatio},
           {"znear", kExportNearPlane}}}}}},
      {"extras", {{kGltfExtrasKey, quadview}}},
  };
  if (!primitives.empty())
    doc["meshes"] = {{{"name", EscapedName(scene.sourceName)}, {"primitives", primitives}}};
  if (!materials.empty()) doc["materials"] = materials;
  if (!textures.empty()) {
    doc["textures"] = textures;
    doc["samplers"] = {
        {{"magFilter", kLinear}, {"minFilter", kLinear}, {"wrapS", kRepeat}, {"wrapT", kRepeat}}};
  }
  if (!images.empty()) doc["images"] = images;
  if (!accessors.empty()) doc["accessors"] = accessors;
  const size_t binSize = buffer.Size();
  if (binSize > 0) {
    doc["bufferViews"] = buffer.Views();
    json gltfBuffer = {{"byteLength", binSize}};
    if (!binary) gltfBuffer["uri"] = UriOf(FileNameOf(SiblingPath(path, ".bin")));
    doc["buffers"] = {gltfBuffer};
  }

  std::string text = doc.dump();
  // Every file complete before any is put in place: the main file first, so that a folder
  // that cannot take it fails naming the file the user gave, and in place last.
  OutputFileSet files;
  OutputFile& file = files.Add(OutputPath(scene, path));
  if (!binary) {
    file.Write(text);
    if (binSize > 0) {
      OutputFile& bin = files.Add(OutputPath(scene, SiblingPath(path, ".bin")));
      buffer.WriteTo(bin);
      bin.Finish();
    }
    for (const auto& [imagePath, image] : imageFiles) {
      OutputFile& png = files.Add(OutputPath(scene, imagePath));
      png.Write(image->png.data(), image->png.size());
      png.Finish();
    }
    files.Commit();
    return;
  }
  while (text.size() % 4 != 0) text += ' ';
  std::vector<uint8_t> header;
  const size_t total = 12 + 8 + text.size() + (binSize == 0 ? 0 : 8 + binSize);
  if (total > UINT32_MAX) {
    throw SceneError("Cannot write file " + path + ": a .glb holds at most 4 GiB; write .gltf");
  }
  AppendLittleEndian32(header, kGlbMagic);
  AppendLittleEndian32(header, kGlbVersion);
  AppendLittleEndian32(header, static_cast<uint32_t>(total));
  AppendLittleEndian32(header, static_cast<uint32_t>(text.size()));
  AppendLittleEndian32(header, kChunkJson);
  file.Write(header.data(), header.size());
  file.Write(text);
  if (binSize > 0) {
    header.clear();
    AppendLittleEndian32(header, static_cast<uint32_t>(binSize));
    AppendLittleEndian32(header, kChunkBin);
    file.Write(header.data(), header.size());
    buffer.WriteTo(file);
  }
  files.Commit();
}
