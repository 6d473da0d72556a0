// What import does with the scene it read: the painter's order, and writing the texture
// folder and the quad list.
#include "tools/scene_import.h"

#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cmath>
#include <cstring>
#include <filesystem>
#include <numeric>
#include <system_error>

#include "scene/file_access.h"
#include "scene/quad_list_writer.h"
#include "scene/scene_error.h"
#include "scene/texture_paths.h"
#include "scene/tga_writer.h"
#include "tools/terminal_progress.h"

namespace {

// Squared distance of a record's corner centroid from the start camera's eye, in file
// coordinates (the stored z is negated).
double DistanceSquaredFromStart(const QuadRecord& record) {
  const CameraState start;
  const double eye[3] = {start.panX, -static_cast<double>(start.panY),
                         -static_cast<double>(start.distance)};
  double centre[3] = {0, 0, 0};
  for (const QuadCorner& corner : record.corners) {
    centre[0] += corner.x / 4.0;
    centre[1] += corner.y / 4.0;
    centre[2] += -corner.z / 4.0;
  }
  double sum = 0;
  for (int k = 0; k < 3; ++k) sum += (centre[k] - eye[k]) * (centre[k] - eye[k]);
  return std::isnan(sum) ? 0 : sum;
}

}  // namespace

void OrderFarFirst(ImportedScene& scene) {
  auto& records = scene.records.records;
  std::vector<double> distance(records.size());
  for (size_t i = 0; i < records.size(); ++i) distance[i] = DistanceSquaredFromStart(records[i]);
  std::vector<size_t> order(records.size());
  std::iota(order.begin(), order.end(), size_t{0});
  std::stable_sort(order.begin(), order.end(), [&](size_t a, size_t b) {
    const bool translucentA = records[a].blend == 1, translucentB = records[b].blend == 1;
    if (translucentA != translucentB) return translucentB;  // opaque ones first
    return distance[a] > distance[b];
  });
  std::vector<QuadRecord, TableAllocator<QuadRecord>> sorted;
  sorted.reserve(records.size());
  for (size_t i : order) sorted.push_back(records[i]);
  records.swap(sorted);
}

void WriteImportedScene(const std::string& quadListPath, const ImportedScene& scene, bool force) {
  const std::string folder = TextureFolderPrefix(quadListPath);
  // Image 000 always: without it the viewer cannot open the scene at all.
  const int imageCount = std::max(static_cast<int>(scene.images.size()), 1);
  std::vector<std::string> targets = {quadListPath};
  for (int slot = 0; slot < imageCount; ++slot) targets.push_back(TextureImagePath(folder, slot));
  // Images numbered after the new set would join it: they are an older scene's.
  std::vector<std::string> stale;
  for (int number = imageCount; TextureSetContinues(folder, number); ++number) {
    stale.push_back(TextureImagePath(folder, number));
  }
  if (!force) {
    for (const std::string& target : targets) {
      struct stat info {};
      if (::lstat(target.c_str(), &info) == 0) {
        throw SceneError("exists; --force overwrites it", target);
      }
    }
    if (!stale.empty()) {
      throw SceneError("exists and would join the imported texture set; --force removes it",
                       stale.front());
    }
  }
  // Everything this run creates goes again if it fails, so a failed import leaves no
  // half-written scene behind.
  UnfinishedFiles created;
  std::vector<std::string> newFolders;
  for (std::filesystem::path at = folder; !at.empty() && !std::filesystem::exists(at);
       at = at.parent_path()) {
    if (at.filename().empty()) continue;  // the trailing '/' of "out/nyc/"
    newFolders.insert(newFolders.begin(), at.string());
  }
  std::error_code error;
  std::filesystem::create_directories(folder, error);
  if (error) throw SceneError("Cannot create folder " + folder + ": " + error.message());
  for (const std::string& made : newFolders) created.Add(made);

  // The records first, into the quad list's temporary file: what no quad-list file can hold
  // fails the import before any image is written.
  QuadListWriter writer(quadListPath);
  TerminalProgress progress("writing " + quadListPath, TerminalProgress::Unit::kRecords);
  progress.SetTotal(scene.records.count);
  for (int32_t i = 0; i < scene.records.count; ++i) {
    writer.Write(scene.records.records[static_cast<size_t>(i)]);
    progress.SetDone(i + 1);
  }
  for (int slot = 0; slot < imageCount; ++slot) {
    const size_t index = static_cast<size_t>(slot);
    const bool textured = index < scene.images.size() && scene.images[index].textured;
    static const ImportedImage kNoImage;
    const ImportedImage& image = textured ? scene.images[index] : kNoImage;
    // A slot that draws untextured gets an image of no texels, which GL leaves incomplete.
    const std::vector<uint8_t> bytes = EncodeTga32(image.width, image.height, image.rgba.data());
    created.WriteFile(targets[index + 1], bytes.data(), bytes.size());
  }
  for (const std::string& old : stale) {
    if (::unlink(old.c_str()) != 0) {
      throw SceneError("Cannot remove file " + old + ": " + std::strerror(errno));
    }
  }
  // The quad list last: a complete scene once it appears.
  writer.Commit();
  created.Keep();
}
