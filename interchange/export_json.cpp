// The JSON and binary writers of quadscene export: the scene as quadview's Blender add-on reads
// it, the records in table order (JSON: one array a record, streamed, never held as one
// document; binary: the table's own bytes), each image of the set as the upright PNG beside
// it, and the camera. nlohmann::json formats every number.
#include <cmath>
#include <cstring>
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

// The files of the set beside the export, and the head both forms share: everything but the
// records. Names are escaped where they are not UTF-8 (EscapedName).
json HeadOf(const ExportScene& scene, const CameraState& camera, int width, int height,
            const std::string& path, OutputFileSet& files) {
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
    images.push_back(EscapedName(FileNameOf(pngPath)));
  }
  const CameraPose pose = CameraPoseOf(camera);
  return {
      {"quadview",
       {{"version", kInterchangeVersion},
        {"generator", kGeneratorName},
        {"source", EscapedName(scene.sourceName)}}},
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
}

void PutLittle(uint8_t* at, uint64_t value, int bytes) {
  for (int i = 0; i < bytes; ++i) at[i] = static_cast<uint8_t>(value >> (8 * i));
}

}  // namespace

void WriteJson(const ExportScene& scene, const CameraState& camera, int width, int height,
               const std::string& path) {
  // Every file complete before any is put in place: the JSON first, so that a folder that
  // cannot take it fails naming the file the user gave, and in place last.
  OutputFileSet files;
  OutputFile& out = files.Add(OutputPath(scene, path));
  const json head = HeadOf(scene, camera, width, height, path, files);
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

void WriteBinary(const ExportScene& scene, const CameraState& camera, int width, int height,
                 const std::string& path) {
  OutputFileSet files;
  OutputFile& out = files.Add(OutputPath(scene, path));
  const std::string head = HeadOf(scene, camera, width, height, path, files).dump();
  uint8_t header[kBinaryHeaderBytes] = {};
  std::memcpy(header, kBinaryMagic, sizeof kBinaryMagic);
  PutLittle(header + 8, kInterchangeVersion, 4);
  PutLittle(header + 12, head.size(), 4);
  PutLittle(header + 16, static_cast<uint64_t>(scene.quads.count), 8);
  out.Write(header, sizeof header);
  out.Write(scene.quads.records.data(), static_cast<size_t>(scene.quads.count) * kRecordBytes);
  out.Write(head);
  files.Commit();
}
