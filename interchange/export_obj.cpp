// The OBJ writer of quadscene export: one 4-corner face per quad in table order, a `usemtl`
// run per run of records sharing slot and blend, floats in the shortest text that reads back
// to the same float32 (std::to_chars), and quadview's application data in comments (the
// winding of the faces that follow, records left out for a non-finite value, the images of
// the set). The MTL is unlit (illum 0) and white, textured with the upright PNGs; blend 1
// takes its alpha from the texture (map_d).
#include <map>
#include <set>
#include <string>
#include <utility>

#include "interchange/stages.h"
#include "scene/file_access.h"
#include "scene/numbers.h"

void WriteObj(const ExportScene& scene, const std::string& path) {
  const std::string mtlPath = SiblingPath(path, ".mtl");
  // Every file complete before any is put in place: the OBJ first, so that a folder that
  // cannot take it fails naming the file the user gave, and in place last.
  OutputFileSet files;
  OutputFile& obj = files.Add(OutputPath(scene, path));
  std::string head = std::string(kObjMarker) + " " + std::to_string(kInterchangeVersion) + "\n" +
                     kObjSource + " " + scene.sourceName + "\n";
  for (size_t slot = 0; slot < scene.images.size(); ++slot) {
    const bool textured = scene.images[slot].textured;
    head += std::string(kObjImage) + " " + std::to_string(slot) + " " +
            (textured ? FileNameOf(ImagePath(path, static_cast<int>(slot))) : "-") + "\n";
    if (textured) {
      const ExportImage& image = scene.images[slot];
      OutputFile& png = files.Add(OutputPath(scene, ImagePath(path, static_cast<int>(slot))));
      png.Write(image.png.data(), image.png.size());
      png.Finish();
    }
  }
  head += "mtllib " + FileNameOf(mtlPath) + "\n";
  obj.Write(head);
  std::set<std::pair<int32_t, uint8_t>> materials;
  std::string text;
  bool inRun = false;
  int32_t runSlot = 0;
  uint8_t runBlend = 0;
  int winding = -1;  // none written yet
  uint64_t vertices = 0;
  const QuadTable& quads = scene.quads;
  for (int32_t i = 0; i < quads.count; ++i) {
    const QuadRecord& record = quads.records[static_cast<size_t>(i)];
    text.clear();
    if (!IsFiniteRecord(record)) {
      text += std::string(kObjRecord) + " " + std::to_string(record.textureIndex) + " " +
              std::to_string(record.blend) + " " + std::to_string(record.counterClockwise);
      for (const QuadCorner& corner : record.corners) {
        for (float value : {corner.u, corner.v, corner.x, corner.y, corner.z}) {
          text += ' ';
          text += FloatBitsHex(value);
        }
      }
      text += '\n';
      obj.Write(text);
      continue;
    }
    if (!inRun || record.textureIndex != runSlot || record.blend != runBlend) {
      inRun = true;
      runSlot = record.textureIndex;
      runBlend = record.blend;
      materials.insert({runSlot, runBlend});
      text += "usemtl " + MaterialName(runSlot, runBlend) + "\n";
    }
    if (record.counterClockwise != winding) {
      winding = record.counterClockwise;
      text += std::string(kObjWinding) + " " +
              (record.counterClockwise == 1 ? kCounterClockwiseWord : kClockwiseWord) + "\n";
    }
    for (const QuadCorner& corner : record.corners) {
      text += "v ";
      AppendShortestFloat(text, corner.x);
      text += ' ';
      AppendShortestFloat(text, corner.y);
      text += ' ';
      AppendShortestFloat(text, -corner.z);  // the file's own z
      text += "\nvt ";
      AppendShortestFloat(text, corner.u);
      text += ' ';
      AppendShortestFloat(text, corner.v);  // OBJ's v runs upward, as GL's does
      text += '\n';
    }
    text += 'f';
    for (int corner = 1; corner <= 4; ++corner) {
      text += ' ';
      AppendInteger(text, static_cast<int64_t>(vertices) + corner);
      text += '/';
      AppendInteger(text, static_cast<int64_t>(vertices) + corner);
    }
    text += '\n';
    vertices += 4;
    obj.Write(text);
  }

  obj.Write(std::string(kObjEnd) + " " + std::to_string(quads.count) + "\n");

  std::string mtl = "# quadview export: unlit, white, textured as the viewer draws\n";
  for (const auto& [slot, blend] : materials) {
    mtl += "newmtl " + MaterialName(slot, blend) + "\nKa 0 0 0\nKd 1 1 1\nKs 0 0 0\nd 1\nillum 0\n";
    if (scene.Textured(slot)) {
      const std::string image = FileNameOf(ImagePath(path, slot));
      mtl += "map_Kd " + image + "\n";
      if (blend == kBlendAlpha) mtl += "map_d " + image + "\n";
    }
  }
  files.Add(OutputPath(scene, mtlPath)).Write(mtl);
  files.Commit();
}
