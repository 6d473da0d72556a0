// Reading a 3D model with Assimp into quadview records: Assimp's right-handed +y-up frame is
// the file frame; node transforms are applied (a mirroring one reverses the corners, so that
// front faces stay counter-clockwise); a quad stays one record, a triangle repeats its third
// corner, a larger polygon is cut into a fan of triangles; points and lines are counted and
// skipped. Each material becomes one image: its base colour texture of coordinate set 0
// (beside the source or embedded, decoded by stb_image) times its base colour, or a 1 x 1
// image of the colour alone; identical images share a slot.
#include <assimp/GltfMaterial.h>
#include <assimp/scene.h>
#include <sys/resource.h>
#include <unistd.h>

#include <algorithm>
#include <assimp/Importer.hpp>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <functional>
#include <map>
#include <string>
#include <string_view>
#include <system_error>
#include <vector>

#include "interchange/interchange.h"
#include "scene/file_access.h"
#include "scene/scene_error.h"

namespace {

constexpr uint8_t kBlendAlpha = 1;
constexpr int kOpaqueAlpha = 255;
// Assimp may grow the address space by this much, plus so many bytes for each byte the model
// is made of: far more than a real model of that size needs, far less than a hostile header
// can ask for.
constexpr uint64_t kAssimpAllowanceBytes = uint64_t(256) << 20;
constexpr uint64_t kAllowancePerModelByte = 32;
constexpr int kMaxFilesCounted = 4096;

// What one Assimp material becomes: a slot and a blend mode.
struct MaterialUse {
  int32_t slot = 0;
  uint8_t blend = 0;
};

uint8_t Scaled(uint8_t texel, float factor) {
  const float value = std::round(static_cast<float>(texel) * std::clamp(factor, 0.0f, 1.0f));
  return static_cast<uint8_t>(value);
}

// Slots by image content, so that identical images share one.
class ImageSlots {
 public:
  explicit ImageSlots(std::vector<ImportedImage>& images) : images_(images) {}
  int32_t SlotOf(ImportedImage image) {
    const std::string_view texels(reinterpret_cast<const char*>(image.rgba.data()),
                                  image.rgba.size());
    const size_t key = std::hash<std::string_view>()(texels) ^
                       (static_cast<size_t>(image.width) << 32) ^ static_cast<size_t>(image.height);
    for (const int32_t slot : slotsByHash_[key]) {
      const ImportedImage& known = images_[static_cast<size_t>(slot)];
      if (known.width == image.width && known.height == image.height && known.rgba == image.rgba) {
        return slot;
      }
    }
    const int32_t slot = static_cast<int32_t>(images_.size());
    images_.push_back(std::move(image));
    slotsByHash_[key].push_back(slot);
    return slot;
  }

 private:
  std::vector<ImportedImage>& images_;
  std::map<size_t, std::vector<int32_t>> slotsByHash_;
};

// The bytes of a material's texture: embedded in the scene, or a file beside the source.
bool TextureBytes(const aiScene* scene, const std::string& source, const aiString& name,
                  std::vector<uint8_t>& bytes, DecodedImage& raw, std::string& why) {
  if (const aiTexture* embedded = scene->GetEmbeddedTexture(name.C_Str())) {
    if (embedded->mHeight == 0) {  // compressed: mWidth bytes of a file format
      const uint8_t* data = reinterpret_cast<const uint8_t*>(embedded->pcData);
      bytes.assign(data, data + embedded->mWidth);
      return true;
    }
    // Uncompressed ARGB8888 texels, the top row first.
    if (!FitsTextureFolder(embedded->mWidth, embedded->mHeight, why)) return false;
    raw.width = static_cast<int>(embedded->mWidth);
    raw.height = static_cast<int>(embedded->mHeight);
    raw.rgba.resize(size_t{embedded->mWidth} * embedded->mHeight * 4);
    for (unsigned row = 0; row < embedded->mHeight; ++row) {
      for (unsigned column = 0; column < embedded->mWidth; ++column) {
        const aiTexel& texel = embedded->pcData[row * embedded->mWidth + column];
        uint8_t* out = &raw.rgba[((embedded->mHeight - 1 - row) * embedded->mWidth + column) * 4];
        out[0] = texel.r;
        out[1] = texel.g;
        out[2] = texel.b;
        out[3] = texel.a;
      }
    }
    return true;
  }
  std::string file = name.C_Str();
  for (char& c : file) {
    if (c == '\\') c = '/';
  }
  const std::string candidates[] = {file.empty() || file[0] == '/' ? file : FolderOf(source) + file,
                                    FolderOf(source) + file.substr(file.rfind('/') + 1)};
  for (const std::string& candidate : candidates) {
    if (IsRegularFile(candidate)) {
      bytes = ReadWholeFile(candidate);
      return true;
    }
  }
  why = "its texture " + std::string(name.C_Str()) + " is not there";
  return false;
}

MaterialUse UseOfMaterial(const aiScene* scene, const std::string& source, unsigned index,
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

  ImportedImage image;
  image.textured = true;
  for (const aiTextureType type : {aiTextureType_BASE_COLOR, aiTextureType_DIFFUSE}) {
    aiString texture;
    unsigned uvSet = 0;
    if (material->GetTexture(type, 0, &texture, nullptr, &uvSet) != AI_SUCCESS) continue;
    if (uvSet != 0) {
      warnings.push_back(label + ": its texture uses coordinate set " + std::to_string(uvSet) +
                         "; only set 0 is kept, so its colour is used instead");
      break;
    }
    std::vector<uint8_t> bytes;
    DecodedImage decoded;
    std::string why;
    if (TextureBytes(scene, source, texture, bytes, decoded, why) &&
        (decoded.width > 0 || DecodeImage(bytes.data(), bytes.size(), decoded, why))) {
      image.width = decoded.width;
      image.height = decoded.height;
      image.rgba = std::move(decoded.rgba);
    } else {
      warnings.push_back(label + ": " + (why.empty() ? "its texture does not decode" : why) +
                         "; its colour is used instead");
    }
    break;
  }
  if (image.rgba.empty()) {  // a material of colour alone
    image.width = image.height = 1;
    image.rgba.assign(4, 255);
  }
  bool textureAlpha = false;
  const float factors[4] = {colour.r, colour.g, colour.b, colour.a};
  for (size_t i = 0; i < image.rgba.size(); ++i) {
    image.rgba[i] = Scaled(image.rgba[i], factors[i % 4]);
    if (i % 4 == 3 && image.rgba[i] < kOpaqueAlpha) textureAlpha = true;
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
  MaterialUse use;
  use.blend = textureAlpha || colour.a < 1 || blendMode ? kBlendAlpha : 0;
  use.slot = slots.SlotOf(std::move(image));
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

// Appends the records of one face: a quad, a triangle with its third corner repeated, or a
// fan of triangles. Its indices are checked against the mesh first.
void AddFace(const std::string& path, const aiMesh* mesh, const aiFace& face,
             const aiMatrix4x4& transform, bool mirrored, const MaterialUse& use,
             ImportedScene& scene) {
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

// Bytes of the model and of the files beside it (a glTF's buffers, an OBJ's materials and
// textures): what the scene can take in memory is bounded by what it is made of.
uint64_t BytesOfModel(const std::string& path) {
  uint64_t bytes = 0;
  std::error_code error;
  const std::filesystem::path folder = std::filesystem::path(path).parent_path();
  std::filesystem::directory_iterator entries(folder.empty() ? "." : folder, error);
  int counted = 0;
  for (; !error && entries != std::filesystem::directory_iterator() && counted < kMaxFilesCounted;
       entries.increment(error), ++counted) {
    if (entries->is_regular_file(error)) bytes += entries->file_size(error);
  }
  return std::max<uint64_t>(bytes, std::filesystem::file_size(path, error));
}

// The process's address space, as the kernel counts it against RLIMIT_AS.
uint64_t AddressSpaceBytes() {
  std::FILE* statm = std::fopen("/proc/self/statm", "r");
  unsigned long long pages = 0;
  if (statm != nullptr) {
    if (std::fscanf(statm, "%llu", &pages) != 1) pages = 0;
    std::fclose(statm);
  }
  return static_cast<uint64_t>(pages) * static_cast<uint64_t>(::sysconf(_SC_PAGE_SIZE));
}

// While it lives, the address space may grow by `allowance` at most: a hostile file that
// declares billions of vertices makes Assimp's allocation fail instead of taking the
// machine's memory. The limit before it is put back afterwards.
class AddressSpaceAllowance {
 public:
  explicit AddressSpaceAllowance(uint64_t allowance) {
    if (::getrlimit(RLIMIT_AS, &previous_) != 0) return;
    rlimit limited = previous_;
    const uint64_t wanted = AddressSpaceBytes() + allowance;
    if (previous_.rlim_cur == RLIM_INFINITY || wanted < previous_.rlim_cur) {
      limited.rlim_cur = static_cast<rlim_t>(wanted);
      active_ = ::setrlimit(RLIMIT_AS, &limited) == 0;
    }
  }
  ~AddressSpaceAllowance() {
    if (active_) ::setrlimit(RLIMIT_AS, &previous_);
  }
  AddressSpaceAllowance(const AddressSpaceAllowance&) = delete;
  AddressSpaceAllowance& operator=(const AddressSpaceAllowance&) = delete;

 private:
  rlimit previous_{};
  bool active_ = false;
};

}  // namespace

void ReadWithAssimp(const std::string& path, ImportedScene& scene) {
  if (!IsRegularFile(path)) throw CannotOpenFile(path);
  Assimp::Importer importer;
  // No post-processing: quads must stay quads (no triangulation), and a mesh of points alone
  // is a scene of skipped points, not a failure. What Assimp's validation would catch is
  // checked here, as the faces are read.
  const aiScene* source = nullptr;
  {
    const AddressSpaceAllowance allowance(kAssimpAllowanceBytes +
                                          kAllowancePerModelByte * BytesOfModel(path));
    source = importer.ReadFile(path, 0);
  }
  if (source == nullptr || source->mRootNode == nullptr) {
    const std::string reason = importer.GetErrorString();
    if (reason.find("bad_alloc") != std::string::npos) throw NotEnoughMemory(path);
    throw SceneError(
        "Assimp cannot read it: " +
            (reason.empty() ? std::string("not a model of a format it knows") : reason),
        path);
  }
  ImageSlots slots(scene.images);
  std::map<unsigned, MaterialUse> materials;
  bool vertexColours = false, secondSets = false;
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
        material->second = UseOfMaterial(source, path, mesh->mMaterialIndex, slots, scene.warnings);
      }
      const MaterialUse& use = material->second;
      vertexColours = vertexColours || mesh->HasVertexColors(0);
      secondSets = secondSets || mesh->HasTextureCoords(1);
      for (unsigned f = 0; f < mesh->mNumFaces; ++f) {
        AddFace(path, mesh, mesh->mFaces[f], transform, mirrored, use, scene);
      }
    }
    for (unsigned c = 0; c < node->mNumChildren; ++c) {
      if (node->mChildren[c] == nullptr) Broken(path, "a node of the scene graph is missing");
      visit(node->mChildren[c], transform);
    }
  };
  visit(source->mRootNode, aiMatrix4x4());
  // No quad-list text reads as NaN: such records cannot be written.
  auto& records = scene.records.records;
  const auto isNan = [](const QuadRecord& record) {
    for (const QuadCorner& corner : record.corners) {
      for (float value : {corner.u, corner.v, corner.x, corner.y, corner.z}) {
        if (std::isnan(value)) return true;
      }
    }
    return false;
  };
  const size_t before = records.size();
  records.erase(std::remove_if(records.begin(), records.end(), isNan), records.end());
  if (records.size() < before) {
    scene.warnings.push_back(
        CountedDropped(before - records.size(), "face", "with a NaN coordinate"));
  }
  if (records.size() > static_cast<size_t>(INT32_MAX))
    Broken(path, "more faces than a table holds");
  scene.records.count = static_cast<int32_t>(records.size());
  if (looseVertices > 0) {
    scene.warnings.push_back(CountedDropped(looseVertices, "vertex", "of no face"));
  }
  if (vertexColours) scene.warnings.push_back("vertex colours are dropped");
  if (secondSets) scene.warnings.push_back("texture coordinate sets past the first are dropped");
  if (source->mNumAnimations > 0) {
    scene.warnings.push_back(CountedDropped(source->mNumAnimations, "animation", ""));
  }
  if (scene.images.empty()) {  // a scene of no faces still has its first image
    ImportedImage white;
    white.textured = true;
    white.width = white.height = 1;
    white.rgba.assign(4, 255);
    scene.images.push_back(white);
  }
}
