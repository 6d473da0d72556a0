// The JSON writer of quadscene export: the scene as quadview's Blender add-on reads it, one
// array a record in table order (streamed, never held as one document), each image of the set
// as the upright PNG beside it, and the camera. nlohmann::json formats every number.
#include <cmath>
#include <nlohmann/json.hpp>
#include <string>

#include "interchange/stages.h"
#include "scene/file_access.h"

namespace {

using nlohmann::json;

// Records gathered into this much text before it goes to the file.
constexpr size_t kWriteChunkBytes = 1 << 20;

// A float as the double it is (exact through any reader of doubles), or the string of its
// bits when it is not finite.
json Exact(float value) {
  if (std::isfinite(value)) return static_cast<double>(value);
  return FloatBitsHex(value);
}

}  // namespace

void WriteJson(const ExportScene& scene, const CameraState& camera, int width, int height,
               const std::string& path) {
  // Every file complete before any is put in place: the JSON first, so that a folder that
  // cannot take it fails naming the file the user gave, and in place last.
  OutputFileSet files;
  OutputFile& out = files.Add(OutputPath(scene, path));
  json images = json::array();
  for (size_t slot = 0; slot < scene.images.size(); ++slot) {
    const ExportImage& image = scene.images[slot];
    if (!image.textured) {
      images.push_back(nullptr);
      continue;
    }
    const std::string pngPath = ImagePath(path, static_cast<int>(slot));
    OutputFile& png = files.Add(OutputPath(scene, pngPath));
    png.Write(image.png.data(), image.png.size());
    png.Finish();
    images.push_back(FileNameOf(pngPath));
  }
  const CameraPose pose = CameraPoseOf(camera);
  const json head = {
      {"quadview",
       {{"version", kInterchangeVersion},
        {"generator", kGeneratorName},
        {"source", scene.sourceName}}},
      {"camera",
       {{"pan", {Exact(camera.panX), Exact(camera.panY)}},
        {"distance", Exact(camera.distance)},
        {"tilt", Exact(camera.tilt)},
        {"spin", Exact(camera.spin)},
        {"translation", {pose.translation[0], pose.translation[1], pose.translation[2]}},
        {"rotation", {pose.rotation[0], pose.rotation[1], pose.rotation[2], pose.rotation[3]}},
        {"yfov", kFieldOfViewRadians},
        {"aspectRatio", static_cast<double>(width) / height},
        {"size", {width, height}}}},
      {"images", images},
  };
  // The head's members, then the records last, so that a reader meets them as they stream.
  std::string text = head.dump();
  text.pop_back();
  text += ",\"records\":[";
  const QuadTable& quads = scene.quads;
  for (int32_t i = 0; i < quads.count; ++i) {
    const QuadRecord& record = quads.records[static_cast<size_t>(i)];
    // Copies of the packed record's fields: a reference to one would be misaligned.
    const int32_t slot = record.textureIndex;
    const int blend = record.blend;
    const int counterClockwise = record.counterClockwise;
    json values = {slot, blend, counterClockwise};
    for (const QuadCorner& corner : record.corners) {
      for (float value : {corner.x, corner.y, -corner.z, corner.u, corner.v}) {
        values.push_back(Exact(value));
      }
    }
    text += i == 0 ? "\n" : ",\n";
    text += values.dump();
    if (text.size() >= kWriteChunkBytes) {
      out.Write(text);
      text.clear();
    }
  }
  text += "\n]}\n";
  out.Write(text);
  files.Commit();
}
