// Reading a 3D model with Assimp into quadview records, in the contained model reader's
// process. Assimp's right-handed +y-up frame is the file frame; node transforms are applied
// (a mirroring one reverses the corners, so that front faces stay counter-clockwise); a quad
// stays one record, a triangle repeats its third corner, a larger polygon is cut into a fan
// of triangles; points and lines are counted and skipped. Each material becomes an image and
// a blend mode (import_materials.cpp).
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

#include "interchange/stages.h"
#include "scene/file_access.h"
#include "scene/scene_error.h"

namespace {

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
  MaterialImages materialImages(source, path, files, textureBudgetBytes, images, scene.images);
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
        material->second = materialImages.Use(mesh->mMaterialIndex, scene.warnings);
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
  materialImages.AddWhiteWhenNone();
}
