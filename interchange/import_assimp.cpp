// Reading a 3D model with Assimp into quadview records, in the contained model reader's
// process. Assimp's right-handed +y-up frame is the file frame; node transforms are applied
// (a mirroring one reverses the corners, so that front faces stay counter-clockwise); a quad
// stays one record, a triangle repeats its third corner, a larger polygon is cut into a fan
// of triangles; points and lines are counted and skipped. Each material becomes one image:
// its base colour texture of coordinate set 0 (beside the source or embedded, its header read
// first, decoded by stb_image) times its base colour, or a 1 x 1 image of the colour alone;
// identical images share a slot. Images go to the sink as they are made and are released.
#include <assimp/GltfMaterial.h>
#include <assimp/scene.h>

#include <algorithm>
#include <assimp/Importer.hpp>
#include <cmath>
#include <cstring>
#include <functional>
#include <map>
#include <string>
#include <tuple>
#include <vector>

#include "interchange/interchange.h"
#include "scene/file_access.h"
#include "scene/scene_error.h"

namespace {

constexpr uint8_t kBlendAlpha = 1;
constexpr int kOpaqueAlpha = 255;
constexpr int kRgbaChannels = 4;

// What one Assimp material becomes: a slot and a blend mode.
struct MaterialUse {
  int32_t slot = 0;
  uint8_t blend = 0;
};

uint8_t Scaled(uint8_t texel, float factor) {
  const float value = std::round(static_cast<float>(texel) * std::clamp(factor, 0.0f, 1.0f));
  return static_cast<uint8_t>(value);
}

// A material's image: its texture (or a 1 x 1 white texel) times the material's colour, made
// a run of texels at a time, so that materials tinting one texture differently decode it once
// and no tinted image is ever held whole.
class TintedImage {
 public:
  TintedImage(const DecodedImage& texture, const float factors[kRgbaChannels]) : texture_(texture) {
    for (int channel = 0; channel < kRgbaChannels; ++channel) {
      for (int value = 0; value < 256; ++value) {
        table_[channel][value] = Scaled(static_cast<uint8_t>(value), factors[channel]);
      }
    }
  }
  int Width() const { return texture_.width; }
  int Height() const { return texture_.height; }
  size_t Bytes() const { return texture_.Bytes(); }

  // Hands the tinted texels to take(rgba, texels) in order, kRunTexels at a time: every run but
  // the last is a whole number of 8-byte words.
  template <typename Take>
  void ForEachRun(Take take) const {
    const size_t texels = Bytes() / kRgbaChannels;
    std::vector<uint8_t> run(std::min(texels, kRunTexels) * kRgbaChannels);
    for (size_t at = 0; at < texels; at += kRunTexels) {
      const size_t count = std::min(kRunTexels, texels - at);
      const uint8_t* in = texture_.rgba.get() + at * kRgbaChannels;
      for (size_t i = 0; i < count * kRgbaChannels; i += kRgbaChannels) {
        for (int channel = 0; channel < kRgbaChannels; ++channel) {
          run[i + channel] = table_[channel][in[i + channel]];
        }
      }
      take(run.data(), count);
    }
  }

 private:
  static constexpr size_t kRunTexels = 16384;
  const DecodedImage& texture_;
  uint8_t table_[kRgbaChannels][256];
};

// Two independent 64-bit hashes of the texels (FNV-1a, and a multiply-rotate mix, both over
// 8-byte words), with the size: images that agree in all of them are taken as identical.
// Fed in runs of whole words; only the last run may end with a part of one.
struct ImageKey {
  uint64_t fnv = 14695981039346656037ull;
  uint64_t mix = 0;
  int width = 0;
  int height = 0;

  void Add(const uint8_t* bytes, size_t size) {
    size_t at = 0;
    for (; at + 8 <= size; at += 8) {
      uint64_t word = 0;
      std::memcpy(&word, bytes + at, sizeof word);
      fnv = (fnv ^ word) * 1099511628211ull;
      mix = Rotated(mix ^ word) * 0x9E3779B97F4A7C15ull;
    }
    for (; at < size; ++at) {
      fnv = (fnv ^ bytes[at]) * 1099511628211ull;
      mix = Rotated(mix ^ bytes[at]) * 0x9E3779B97F4A7C15ull;
    }
  }
  bool operator<(const ImageKey& other) const {
    return std::tie(fnv, mix, width, height) <
           std::tie(other.fnv, other.mix, other.width, other.height);
  }

 private:
  static uint64_t Rotated(uint64_t value) { return value << 27 | value >> 37; }
};

// The images of the texture folder: one slot per distinct image, sent to the sink when it is
// first seen. Past kTextureSlots images are only counted: the import then fails saying how
// many it needs.
class ImageSlots {
 public:
  ImageSlots(ImageSink& sink, int64_t& count) : sink_(sink), count_(count) {}
  // The image's slot; `alpha` tells whether any texel of it is not opaque.
  int32_t SlotOf(const TintedImage& image, bool& alpha) {
    ImageKey key;
    key.width = image.Width();
    key.height = image.Height();
    alpha = false;
    image.ForEachRun([&](const uint8_t* rgba, size_t texels) {
      key.Add(rgba, texels * kRgbaChannels);
      for (size_t i = 0; i < texels; ++i)
        alpha = alpha || rgba[i * kRgbaChannels + 3] < kOpaqueAlpha;
    });
    const auto known = slots_.find(key);
    if (known != slots_.end()) return known->second;
    const int32_t slot = static_cast<int32_t>(count_++);
    if (slot < kTextureSlots) {
      sink_.BeginImage(image.Width(), image.Height());
      image.ForEachRun(
          [this](const uint8_t* rgba, size_t texels) { sink_.AddTexels(rgba, texels); });
      sink_.EndImage();
      uploadBytes_ += image.Bytes();
    }
    slots_.emplace(key, slot);
    return slot;
  }
  uint64_t UploadBytes() const { return uploadBytes_; }

  // The use an earlier material of the same texture, colour and mode made (`key`).
  bool Known(const std::string& key, MaterialUse& use) const {
    const auto known = uses_.find(key);
    if (known == uses_.end()) return false;
    use = known->second;
    return true;
  }
  void Remember(const std::string& key, const MaterialUse& use) { uses_[key] = use; }

 private:
  ImageSink& sink_;
  int64_t& count_;
  std::map<ImageKey, int32_t> slots_;
  std::map<std::string, MaterialUse> uses_;
  uint64_t uploadBytes_ = 0;
};

// A 1 x 1 image of opaque white, to be tinted by a material's colour.
DecodedImage WhiteTexel() {
  DecodedImage image;
  image.width = image.height = 1;
  image.rgba.reset(static_cast<uint8_t*>(std::malloc(kRgbaChannels)));
  if (image.rgba == nullptr) throw std::bad_alloc();
  std::memset(image.rgba.get(), 255, kRgbaChannels);
  return image;
}

// Reads a material's texture: embedded in the scene (compressed, or as Assimp's ARGB texels),
// or a file the model may read. The last one read is kept until another is asked for:
// materials naming one texture in a row (an atlas, tinted differently) decode it once.
class TextureReader {
 public:
  TextureReader(const aiScene* scene, const std::string& source, ModelFileAccess& files,
                uint64_t budgetBytes)
      : scene_(scene), source_(source), files_(files), budgetBytes_(budgetBytes) {}

  // The texture `name`, untinted; null with `why` when there is none to be had, or when its
  // header says it would pass the texture budget (then it is not decoded).
  const DecodedImage* Read(const aiString& name, uint64_t budgetUsed, std::string& why) {
    if (!held_ || heldName_ != name.C_Str()) {
      texture_ = DecodedImage();  // the one held goes before the next is decoded
      heldWhy_.clear();
      heldOk_ = ReadTexture(name, budgetUsed, texture_, heldWhy_);
      if (!heldOk_) texture_ = DecodedImage();
      heldName_ = name.C_Str();
      held_ = true;
    } else if (heldOk_ && !WithinBudget(texture_.width, texture_.height, budgetUsed, why)) {
      return nullptr;
    }
    if (!heldOk_) {
      why = heldWhy_;
      return nullptr;
    }
    return &texture_;
  }

 private:
  bool ReadTexture(const aiString& name, uint64_t budgetUsed, DecodedImage& image,
                   std::string& why) {
    if (const aiTexture* embedded = scene_->GetEmbeddedTexture(name.C_Str())) {
      if (embedded->mHeight == 0) {  // compressed: mWidth bytes of a file format
        ImageBytes bytes;
        bytes.data = reinterpret_cast<const uint8_t*>(embedded->pcData);
        bytes.size = embedded->mWidth;
        return Decode(bytes, budgetUsed, image, why);
      }
      return Texels(*embedded, budgetUsed, image, why);
    }
    std::string file = name.C_Str();
    for (char& c : file) {
      if (c == '\\') c = '/';
    }
    const std::string folder = FolderOf(source_);
    const std::string candidates[] = {file.empty() || file[0] == '/' ? file : folder + file,
                                      folder + file.substr(file.rfind('/') + 1)};
    std::string refusal;
    for (const std::string& candidate : candidates) {
      std::string candidateRefusal;
      const int fd = files_.Open(candidate, candidateRefusal);
      if (fd < 0) {
        if (refusal.empty()) refusal = candidateRefusal;
        continue;
      }
      InputFile input(fd, candidate);
      ImageBytes bytes;
      bytes.file = &input;
      bytes.size = static_cast<uint64_t>(input.Size());
      return Decode(bytes, budgetUsed, image, why);
    }
    why =
        "its texture " + (refusal.empty() ? std::string(name.C_Str()) + " is not there" : refusal);
    return false;
  }

  bool WithinBudget(int width, int height, uint64_t budgetUsed, std::string& why) const {
    const uint64_t bytes = uint64_t(width) * uint64_t(height) * kRgbaChannels;
    if (bytes <= budgetBytes_ && budgetUsed <= budgetBytes_ - bytes) return true;
    why = "its texture (" + std::to_string(width) + " x " + std::to_string(height) +
          ") passes the texture budget of " + std::to_string(budgetBytes_ >> 20) + " MiB";
    return false;
  }

  bool Decode(const ImageBytes& bytes, uint64_t budgetUsed, DecodedImage& image,
              std::string& why) const {
    int width = 0, height = 0;
    return ReadImageSize(bytes, width, height, why) &&
           WithinBudget(width, height, budgetUsed, why) && DecodeImage(bytes, image, why);
  }

  // Uncompressed ARGB8888 texels, the top row first.
  bool Texels(const aiTexture& embedded, uint64_t budgetUsed, DecodedImage& image,
              std::string& why) const {
    if (!FitsTextureFolder(embedded.mWidth, embedded.mHeight, why) ||
        !WithinBudget(static_cast<int>(embedded.mWidth), static_cast<int>(embedded.mHeight),
                      budgetUsed, why)) {
      return false;
    }
    image.width = static_cast<int>(embedded.mWidth);
    image.height = static_cast<int>(embedded.mHeight);
    image.rgba.reset(static_cast<uint8_t*>(std::malloc(image.Bytes())));
    if (image.rgba == nullptr) throw std::bad_alloc();
    for (unsigned row = 0; row < embedded.mHeight; ++row) {
      for (unsigned column = 0; column < embedded.mWidth; ++column) {
        const aiTexel& texel = embedded.pcData[row * embedded.mWidth + column];
        uint8_t* out =
            image.rgba.get() + (size_t{embedded.mHeight - 1 - row} * embedded.mWidth + column) * 4;
        out[0] = texel.r;
        out[1] = texel.g;
        out[2] = texel.b;
        out[3] = texel.a;
      }
    }
    return true;
  }

  const aiScene* scene_;
  const std::string& source_;
  ModelFileAccess& files_;
  uint64_t budgetBytes_;
  bool held_ = false;  // whether heldName_ was read, and heldOk_ and texture_ or heldWhy_ say how
  std::string heldName_;
  bool heldOk_ = false;
  DecodedImage texture_;
  std::string heldWhy_;
};

MaterialUse UseOfMaterial(const aiScene* scene, unsigned index, TextureReader& textures,
                          ImageSlots& slots, std::vector<std::string>& warnings) {
  const aiMaterial* material = scene->mMaterials[index];
  aiString materialName;
  material->Get(AI_MATKEY_NAME, materialName);
  const std::string label = "material '" + std::string(materialName.C_Str()) + "'";
  aiColor4D colour(1, 1, 1, 1);
  if (material->Get(AI_MATKEY_BASE_COLOR, colour) != AI_SUCCESS) {
    aiColor3D diffuse(1, 1, 1);
    if (material->Get(AI_MATKEY_COLOR_DIFFUSE, diffuse) == AI_SUCCESS) {
      colour = aiColor4D(diffuse.r, diffuse.g, diffuse.b, 1);
    }
  }
  float opacity = 1;
  if (material->Get(AI_MATKEY_OPACITY, opacity) == AI_SUCCESS) colour.a *= opacity;
  aiString alphaMode;
  const bool blendMode = material->Get(AI_MATKEY_GLTF_ALPHAMODE, alphaMode) == AI_SUCCESS &&
                         std::strcmp(alphaMode.C_Str(), "BLEND") == 0;

  aiString texture;
  bool textured = false;
  for (const aiTextureType type : {aiTextureType_BASE_COLOR, aiTextureType_DIFFUSE}) {
    unsigned uvSet = 0;
    if (material->GetTexture(type, 0, &texture, nullptr, &uvSet) != AI_SUCCESS) continue;
    if (uvSet != 0) {
      warnings.push_back(label + ": its texture uses coordinate set " + std::to_string(uvSet) +
                         "; only set 0 is kept, so its colour is used instead");
    } else {
      textured = true;
    }
    break;
  }
  // Materials of the same texture, colour and mode make the same image: it is read once.
  const float factors[4] = {colour.r, colour.g, colour.b, colour.a};
  std::string key = textured ? std::string(texture.C_Str()) : std::string();
  key.append(reinterpret_cast<const char*>(factors), sizeof factors);
  key += blendMode ? 'B' : 'O';
  MaterialUse use;
  if (!slots.Known(key, use)) {
    const DecodedImage* base = nullptr;
    std::string why;
    if (textured) {
      base = textures.Read(texture, slots.UploadBytes(), why);
      if (base == nullptr) {
        warnings.push_back(label + ": " + (why.empty() ? "its texture does not decode" : why) +
                           "; its colour is used instead");
      }
    }
    const DecodedImage white = base == nullptr ? WhiteTexel() : DecodedImage();
    bool textureAlpha = false;
    use.slot = slots.SlotOf(TintedImage(base != nullptr ? *base : white, factors), textureAlpha);
    use.blend = textureAlpha || colour.a < 1 || blendMode ? kBlendAlpha : 0;
    slots.Remember(key, use);
  }
  for (const aiTextureType dropped :
       {aiTextureType_NORMALS, aiTextureType_NORMAL_CAMERA, aiTextureType_SPECULAR,
        aiTextureType_EMISSIVE, aiTextureType_EMISSION_COLOR, aiTextureType_HEIGHT,
        aiTextureType_SHININESS, aiTextureType_LIGHTMAP, aiTextureType_METALNESS,
        aiTextureType_DIFFUSE_ROUGHNESS, aiTextureType_AMBIENT_OCCLUSION}) {
    if (material->GetTextureCount(dropped) > 0) {
      warnings.push_back(label + ": its " + aiTextureTypeToString(dropped) +
                         " texture is dropped (only the base colour is kept)");
    }
  }
  return use;
}

// "1 face with a NaN coordinate is dropped", "3 vertices of no face are dropped".
std::string CountedDropped(uint64_t count, const std::string& noun, const std::string& which) {
  const std::string plural = noun == "vertex" ? "vertices" : noun + "s";
  return std::to_string(count) + " " + (count == 1 ? noun : plural) +
         (which.empty() ? "" : " " + which) + (count == 1 ? " is dropped" : " are dropped");
}

[[noreturn]] void Broken(const std::string& path, const std::string& what) {
  throw SceneError("Assimp reads a broken scene from it: " + what, path);
}

// The record tag every corner of `face` carries in the mesh's second texture-coordinate set
// (Assimp turns glTF's v into 1 - v), if they all carry the same one.
bool FaceTag(const aiMesh* mesh, const aiFace& face, RecordTag& tag) {
  if (!mesh->HasTextureCoords(1) || face.mNumIndices == 0) return false;
  for (unsigned k = 0; k < face.mNumIndices; ++k) {
    const aiVector3D& uv = mesh->mTextureCoords[1][face.mIndices[k]];
    RecordTag corner;
    if (!DecodeRecordTag(uv.x, 1.0f - uv.y, corner)) return false;
    if (k == 0) tag = corner;
    if (corner.index != tag.index || corner.blend != tag.blend ||
        corner.counterClockwise != tag.counterClockwise) {
      return false;
    }
  }
  return true;
}

// Appends the records of one face: a quad, a triangle with its third corner repeated, or a
// fan of triangles; or, for a triangle or quad with a record tag, the tagged face, corners in
// the source's order, to be put back together with the rest of its record. Its indices are
// checked against the mesh first.
void AddFace(const std::string& path, const aiMesh* mesh, const aiFace& face,
             const aiMatrix4x4& transform, bool mirrored, const MaterialUse& use,
             ImportedScene& scene, std::vector<TaggedFace>& tagged) {
  auto corner = [&](unsigned index) {
    const aiVector3D position = transform * mesh->mVertices[index];
    const aiVector3D uv =
        mesh->HasTextureCoords(0) ? mesh->mTextureCoords[0][index] : aiVector3D(0, 0, 0);
    return QuadCorner{uv.x, uv.y, position.x, position.y, -position.z};  // z stored negated
  };
  auto add = [&](unsigned a, unsigned b, unsigned c, unsigned d) {
    QuadRecord record{};
    record.textureIndex = use.slot;
    record.blend = use.blend;
    record.counterClockwise = 1;  // front faces as the source defines them
    const unsigned order[4] = {a, b, c, d};
    for (int k = 0; k < 4; ++k) {
      record.corners[k] = corner(order[mirrored ? (4 - k) % 4 : k]);
    }
    scene.records.records.push_back(record);
  };
  const unsigned* i = face.mIndices;
  if (face.mNumIndices > 0 && i == nullptr) Broken(path, "a face without its indices");
  for (unsigned k = 0; k < face.mNumIndices; ++k) {
    if (i[k] >= mesh->mNumVertices) Broken(path, "a face names a vertex the mesh has not");
  }
  TaggedFace taggedFace;
  if ((face.mNumIndices == 3 || face.mNumIndices == 4) && FaceTag(mesh, face, taggedFace.tag)) {
    ++(face.mNumIndices == 3 ? scene.triangles : scene.quads);
    taggedFace.slot = use.slot;
    taggedFace.cornerCount = static_cast<int>(face.mNumIndices);
    for (int k = 0; k < 4; ++k) {
      taggedFace.corners[k] =
          corner(i[std::min<unsigned>(static_cast<unsigned>(k), face.mNumIndices - 1)]);
    }
    tagged.push_back(taggedFace);
    return;
  }
  switch (face.mNumIndices) {
    case 0:
      return;
    case 1:
      ++scene.points;
      return;
    case 2:
      ++scene.lines;
      return;
    case 3:
      ++scene.triangles;
      add(i[0], i[1], i[2], i[2]);
      return;
    case 4:
      ++scene.quads;
      add(i[0], i[1], i[2], i[3]);
      return;
    default:
      ++scene.polygons;
      for (unsigned k = 1; k + 1 < face.mNumIndices; ++k) {
        ++scene.polygonTriangles;
        add(i[0], i[k], i[k + 1], i[k + 1]);
      }
  }
}

bool HasNan(const QuadRecord& record) {
  for (const QuadCorner& corner : record.corners) {
    for (float value : {corner.u, corner.v, corner.x, corner.y, corner.z}) {
      if (std::isnan(value)) return true;
    }
  }
  return false;
}

}  // namespace

void ReadWithAssimp(const std::string& path, ModelFileAccess& files, uint64_t textureBudgetBytes,
                    ImportedScene& scene, ImageSink& images) {
  Assimp::Importer importer;
  std::vector<std::string> refusals;  // companions Assimp was refused
  importer.SetIOHandler(NewModelIOSystem(files, refusals));
  // No post-processing: quads must stay quads (no triangulation), and a mesh of points alone
  // is a scene of skipped points, not a failure. What Assimp's validation would catch is
  // checked here, as the faces are read.
  const aiScene* source = importer.ReadFile(path, 0);
  if (source == nullptr || source->mRootNode == nullptr) {
    const std::string reason = importer.GetErrorString();
    if (reason.find("bad_alloc") != std::string::npos) throw NotEnoughMemory(path);
    throw SceneError(
        "Assimp cannot read it: " +
            (reason.empty() ? std::string("not a model of a format it knows") : reason),
        path);
  }
  TextureReader textures(source, path, files, textureBudgetBytes);
  ImageSlots slots(images, scene.images);
  std::map<unsigned, MaterialUse> materials;
  bool vertexColours = false, secondSets = false;
  std::vector<TaggedFace> tagged;
  uint64_t looseVertices = 0;
  std::function<void(const aiNode*, const aiMatrix4x4&)> visit = [&](const aiNode* node,
                                                                     const aiMatrix4x4& parent) {
    const aiMatrix4x4 transform = parent * node->mTransformation;
    const bool mirrored = transform.Determinant() < 0;
    for (unsigned m = 0; m < node->mNumMeshes; ++m) {
      if (node->mMeshes[m] >= source->mNumMeshes) Broken(path, "a node names a mesh it has not");
      const aiMesh* mesh = source->mMeshes[node->mMeshes[m]];
      if (mesh == nullptr || (mesh->mNumVertices > 0 && mesh->mVertices == nullptr) ||
          (mesh->mNumFaces > 0 && mesh->mFaces == nullptr) ||
          mesh->mMaterialIndex >= source->mNumMaterials) {
        Broken(path, "a mesh without its vertices, faces or material");
      }
      if (mesh->mNumFaces == 0) looseVertices += mesh->mNumVertices;  // a cloud of points
      auto [material, added] = materials.try_emplace(mesh->mMaterialIndex);
      if (added) {
        material->second =
            UseOfMaterial(source, mesh->mMaterialIndex, textures, slots, scene.warnings);
      }
      const MaterialUse& use = material->second;
      vertexColours = vertexColours || mesh->HasVertexColors(0);
      secondSets = secondSets || mesh->HasTextureCoords(1);
      for (unsigned f = 0; f < mesh->mNumFaces; ++f) {
        AddFace(path, mesh, mesh->mFaces[f], transform, mirrored, use, scene, tagged);
      }
    }
    for (unsigned c = 0; c < node->mNumChildren; ++c) {
      if (node->mChildren[c] == nullptr) Broken(path, "a node of the scene graph is missing");
      visit(node->mChildren[c], transform);
    }
  };
  visit(source->mRootNode, aiMatrix4x4());
  // The records back from their tags first, in their exported order; the faces without a tag
  // after them.
  auto& records = scene.records.records;
  if (!tagged.empty()) {
    std::vector<QuadRecord, TableAllocator<QuadRecord>> untagged;
    untagged.swap(records);
    RecordsFromTags(tagged, records);
    scene.taggedRecords = static_cast<int64_t>(records.size());
    records.insert(records.end(), untagged.begin(), untagged.end());
    secondSets = false;  // the second set held the tags
  }
  // No quad-list text reads as NaN: such records cannot be written.
  const size_t before = records.size();
  scene.taggedRecords -=
      std::count_if(records.begin(), records.begin() + scene.taggedRecords, HasNan);
  records.erase(std::remove_if(records.begin(), records.end(), HasNan), records.end());
  if (records.size() < before) {
    scene.warnings.push_back(
        CountedDropped(before - records.size(), "face", "with a NaN coordinate"));
  }
  if (records.size() > static_cast<size_t>(INT32_MAX)) {
    Broken(path, "more faces than a table holds");
  }
  scene.records.count = static_cast<int32_t>(records.size());
  if (looseVertices > 0) {
    scene.warnings.push_back(CountedDropped(looseVertices, "vertex", "of no face"));
  }
  if (vertexColours) scene.warnings.push_back("vertex colours are dropped");
  if (secondSets) scene.warnings.push_back("texture coordinate sets past the first are dropped");
  if (source->mNumAnimations > 0) {
    scene.warnings.push_back(CountedDropped(source->mNumAnimations, "animation", ""));
  }
  for (const std::string& refusal : refusals) scene.warnings.push_back(refusal);
  if (scene.images == 0) {  // a scene of no faces still has image 000
    const float opaqueWhite[kRgbaChannels] = {1, 1, 1, 1};
    bool alpha = false;
    slots.SlotOf(TintedImage(WhiteTexel(), opaqueWhite), alpha);
  }
}
