// quadscene import over Assimp's own test corpus (Debian's assimp-testmodels: some 400 models
// in about 40 formats, and a folder of deliberately broken ones). Each model either imports,
// with records that agree with the faces Assimp reports (each mesh counted once for every
// node that places it), or fails with a message naming the file; never a crash, a hang or a
// runaway of memory.
#include <assimp/scene.h>
#include <gtest/gtest.h>

#include <algorithm>
#include <assimp/Importer.hpp>
#include <filesystem>
#include <functional>
#include <iostream>
#include <memory>
#include <string>
#include <vector>

#include "tests/command_runner.h"
#include "tests/test_files.h"

namespace {

namespace fs = std::filesystem;

const fs::path kCorpus = "/usr/share/assimp/models";
constexpr int kTimeoutSeconds = 120;
// Peak resident memory allowed: the model's own bytes many times over, plus 256 MiB.
constexpr uint64_t kAllowanceBytes = uint64_t(256) << 20;
constexpr uint64_t kBytesPerModelByte = 64;
#if defined(__SANITIZE_ADDRESS__)
// Under AddressSanitizer the same bound grows by what the sanitizer itself holds: an eighth
// more for its shadow of every byte, and up to 256 MiB of freed memory in its quarantine
// (which Debian 13's Assimp, allocating far more than Debian 12's, fills).
constexpr uint64_t kSanitizerShadowEighths = 9;
constexpr uint64_t kSanitizerQuarantineBytes = uint64_t(256) << 20;
#else
constexpr uint64_t kSanitizerShadowEighths = 8;
constexpr uint64_t kSanitizerQuarantineBytes = 0;
#endif

// The faces of the meshes Assimp places in the scene, once per placing node, and the records
// they make: a quad or a triangle one, a polygon of n corners n - 2.
struct PlacedFaces {
  int64_t faces = 0;
  int64_t records = 0;
};

PlacedFaces FacesAssimpReports(const fs::path& model) {
  Assimp::Importer importer;
  const aiScene* scene = importer.ReadFile(model.string(), 0);
  PlacedFaces placed;
  if (scene == nullptr || scene->mRootNode == nullptr) return placed;
  std::function<void(const aiNode*)> visit = [&](const aiNode* node) {
    for (unsigned m = 0; m < node->mNumMeshes; ++m) {
      const aiMesh* mesh = scene->mMeshes[node->mMeshes[m]];
      placed.faces += mesh->mNumFaces;
      for (unsigned f = 0; f < mesh->mNumFaces; ++f) {
        const unsigned corners = mesh->mFaces[f].mNumIndices;
        placed.records += corners < 3 ? 0 : corners <= 4 ? 1 : corners - 2;
      }
    }
    for (unsigned c = 0; c < node->mNumChildren; ++c) visit(node->mChildren[c]);
  };
  visit(scene->mRootNode);
  return placed;
}

// The whole numbers in `text`, in order.
std::vector<long long> Numbers(const std::string& text) {
  std::vector<long long> numbers;
  for (size_t at = text.find_first_of("0123456789"); at != std::string::npos;
       at = text.find_first_of("0123456789", at)) {
    size_t used = 0;
    numbers.push_back(std::stoll(text.substr(at), &used));
    at += used;
  }
  return numbers;
}

std::string Quoted(const std::string& text) {
  std::string quoted = "'";
  for (char c : text) quoted += c == '\'' ? std::string("'\\''") : std::string(1, c);
  return quoted + "'";
}

TEST(ImportCorpus, EveryModelImportsOrFailsNamingItsFile) {
  ASSERT_TRUE(fs::is_directory(kCorpus)) << "assimp-testmodels is not installed";
  Assimp::Importer importer;
  std::vector<fs::path> models;
  for (const auto& entry : fs::recursive_directory_iterator(kCorpus)) {
    if (entry.is_regular_file() &&
        importer.IsExtensionSupported(entry.path().extension().string())) {
      models.push_back(entry.path());
    }
  }
  std::sort(models.begin(), models.end());
  ASSERT_GT(models.size(), 250u);
  int imported = 0;
  std::vector<std::string> failures;
  for (const fs::path& model : models) {
    SCOPED_TRACE(model.string());
    TempDir dir;
    const std::string out = dir.File("scene/nyc.map");
    const CommandResult run =
        RunQuadscene("import " + Quoted(model.string()) + " -o " + out + " --order file", dir,
                     "/usr/bin/time -f %M -o " + dir.File("peak.txt") + " timeout " +
                         std::to_string(kTimeoutSeconds) + " ");
    ASSERT_TRUE(run.status == 0 || run.status == 1) << "exit status " << run.status << "\n"
                                                    << run.err;
    const std::string peak = ReadFile(dir.File("peak.txt"));  // the last line: the peak in KiB
    const uint64_t peakBytes =
        std::stoull(peak.substr(peak.rfind('\n', peak.size() - 2) + 1)) * 1024;
    EXPECT_LE(peakBytes, (kAllowanceBytes + kBytesPerModelByte * fs::file_size(model)) *
                                 kSanitizerShadowEighths / 8 +
                             kSanitizerQuarantineBytes);
    if (run.status == 1) {
      // The last line is the failure, naming the file (Assimp may have printed before it).
      std::string last = run.err.substr(run.err.rfind('\n', run.err.size() - 2) + 1);
      if (!last.empty() && last.back() == '\n') last.pop_back();
      EXPECT_EQ(last.rfind(model.string() + ": ", 0), 0u) << run.err;
      failures.push_back(model.string().substr(kCorpus.string().size() + 1) + ": " +
                         last.substr(model.string().size() + 2, 120));
      continue;
    }
    ++imported;
    // "OUT: 5 records (1 quad, 1 triangle, 1 polygon as 3 triangles), ..."
    const std::string summary = run.out.substr(out.size() + 2, run.out.find(')') - out.size());
    const std::vector<long long> counts = Numbers(summary);
    ASSERT_EQ(counts.size(), 5u) << run.out;
    const long long records = counts[0], quads = counts[1], triangles = counts[2],
                    polygons = counts[3], polygonTriangles = counts[4];
    long long points = 0, lines = 0;
    const size_t skipped = run.out.find("skipped: ");
    if (skipped != std::string::npos) {
      const std::vector<long long> skips =
          Numbers(run.out.substr(skipped, run.out.find('\n', skipped) - skipped));
      ASSERT_EQ(skips.size(), 2u) << run.out;
      points = skips[0];
      lines = skips[1];
    }
    // Records with a NaN coordinate cannot be written; the import says how many it dropped.
    long long dropCount = 0;
    const size_t nan = run.err.find("warning: ");
    if (nan != std::string::npos && run.err.find("with a NaN coordinate") != std::string::npos) {
      std::sscanf(run.err.c_str() + nan, "warning: %lld faces", &dropCount);
    }
    EXPECT_EQ(records + dropCount, quads + triangles + polygonTriangles);
    const PlacedFaces placed = FacesAssimpReports(model);
    EXPECT_EQ(quads + triangles + polygons + points + lines, placed.faces) << run.out;
    EXPECT_EQ(quads + triangles + polygonTriangles, placed.records) << run.out << run.err;
  }
  std::cout << models.size() << " models: " << imported << " imported, " << failures.size()
            << " failed with a message:\n";
  for (const std::string& failure : failures) std::cout << "  " << failure << "\n";
}

}  // namespace
