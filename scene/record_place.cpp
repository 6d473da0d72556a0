// Record places and the picked record's line.
#include "scene/record_place.h"

#include "scene/file_access.h"
#include "scene/record_format.h"
#include "scene/texture_paths.h"

int64_t HeaderLine(int32_t index) {
  return int64_t{index} * kLinesPerRecord + 1;
}

std::string RecordLine(const std::string& path, int32_t index, const QuadRecord& record,
                       int images) {
  const int32_t slot = record.textureIndex;
  const std::string image = slot >= 0 && slot < images
                                ? TextureImagePath(TextureFolderPrefix(path), slot)
                                : std::string("no image");
  return path + ":" + std::to_string(HeaderLine(index)) + ": record " +
         std::to_string(int64_t{index} + 1) + ": slot " + std::to_string(slot) + " (" + image +
         "), blend " + std::to_string(record.blend) +
         (record.blend == kBlendAlpha ? " (alpha-blended), " : " (opaque), ") +
         (record.counterClockwise ? kCounterClockwiseWord : kClockwiseWord);
}

int CountTextureImages(const std::string& path) {
  const std::string folder = TextureFolderPrefix(path);
  if (!IsRegularFile(TextureImagePath(folder, 0))) return 0;
  int images = 1;
  while (TextureSetContinues(folder, images)) ++images;
  return images;
}
