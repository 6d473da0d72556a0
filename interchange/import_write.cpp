// Import's last stage: the texture folder and then the quad list, written so that a failed
// import leaves none of what it created.
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <filesystem>
#include <system_error>

#include "interchange/interchange.h"
#include "scene/file_access.h"
#include "scene/quad_list_writer.h"
#include "scene/scene_error.h"
#include "scene/texture_paths.h"
#include "scene/tga_writer.h"

void WriteImportedScene(const std::string& quadListPath, const ImportedScene& scene, bool force,
                        const RecordProgress& progress) {
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
  for (int32_t i = 0; i < scene.records.count; ++i) {
    writer.Write(scene.records.records[static_cast<size_t>(i)]);
    progress(i + 1, scene.records.count);
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
