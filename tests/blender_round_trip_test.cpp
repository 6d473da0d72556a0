// The round trip a modder makes, judged by Blender itself: `quadscene export` to .glb, Blender's
// glTF import, one edit, Blender's export with its default settings, and `quadscene import`
// with its defaults, for the demo and for a scene of hard cases (a door on its wall, a window
// on it, interleaved slots on one plane, blend 0, 1, 2 and 255, both windings). Records come
// back in their order, quads as quads, with their blend and winding; what Blender changed,
// changed; a new face after all the others. Skipped where Blender is not installed.
#include <gtest/gtest.h>
#include <sys/wait.h>

#include <cmath>
#include <cstdlib>
#include <filesystem>
#include <iostream>
#include <string>
#include <vector>

#include "scene/quad_list.h"
#include "scene/quad_list_writer.h"
#include "scene/texture_paths.h"
#include "scene/tga.h"
#include "scene/tga_writer.h"
#include "tests/command_runner.h"
#include "tests/test_files.h"

namespace {

// The record the one-record edits take.
constexpr int kEditedRecord = 3;
// Blender keeps positions as float32 through its own frame (z up), texture coordinates
// through v flipped to 1 - v and back: equal within that rounding.
constexpr double kPositionTolerance = 1e-5;  // relative
constexpr double kTexCoordTolerance = 1e-6;

// The door, window and wall scene: four 2 x 2 images, the window's half transparent.
std::string WriteHardScene(const TempDir& dir) {
  const std::string path = dir.File("hard/nyc.map");
  const std::string folder = TextureFolderPrefix(path);
  std::filesystem::create_directories(folder);
  const uint8_t colours[4][4] = {
      {200, 40, 40, 255}, {40, 200, 40, 255}, {40, 40, 200, 128}, {220, 220, 40, 255}};
  for (int slot = 0; slot < 4; ++slot) {
    std::vector<uint8_t> rgba;
    for (int texel = 0; texel < 4; ++texel) {
      rgba.insert(rgba.end(), colours[slot], colours[slot] + 4);
      rgba[rgba.size() - 2] = static_cast<uint8_t>(rgba[rgba.size() - 2] + texel * 10);
    }
    WriteTga32(TextureImagePath(folder, slot), 2, 2, rgba.data());
  }
  QuadTable table;
  table.records = {
      Quad(0, 0, 0, -1, -1, 1, 1),                    // the wall
      Quad(1, 0, 1, -0.3f, -1, 0.3f, 0.2f),           // a door on it
      Quad(2, 1, 0, 0.5f, 0.2f, 0.8f, 0.6f),          // a window on it, blended
      Quad(0, 2, 1, -0.9f, 0.4f, -0.5f, 0.8f, 0.2f),  // interleaved slots on one plane
      Quad(3, 255, 0, -0.7f, 0.5f, -0.3f, 0.9f, 0.2f),
      Quad(0, 1, 1, -0.5f, 0.6f, -0.1f, 1.0f, 0.2f),
      Quad(3, 0, 0, -0.3f, 0.7f, 0.1f, 1.1f, 0.2f),
  };
  table.count = static_cast<int32_t>(table.records.size());
  WriteQuadList(path, table);
  return path;
}

QuadTable ReadTable(const std::string& path) {
  QuadTable table;
  NoProgress progress;
  ReadQuadList(path, table, progress);
  return table;
}

struct Scene {
  QuadTable table;
  std::vector<std::vector<uint8_t>> textures;
  explicit Scene(const std::string& path)
      : table(ReadTable(path)), textures(UploadedTextures(path)) {}
  const std::vector<uint8_t>& TextureOf(const QuadRecord& record) const {
    return textures.at(static_cast<size_t>(record.textureIndex));
  }
};

bool Near(double a, double b, double tolerance) {
  return std::fabs(a - b) <= tolerance * std::max(1.0, std::fabs(a));
}

// Whether `back` is `original` moved by `offset` (file coordinates): the same fields and
// texels (slots may be numbered anew), corners in the same order.
::testing::AssertionResult SameRecord(const Scene& originalScene, int32_t originalIndex,
                                      const Scene& backScene, int32_t backIndex,
                                      const double offset[3] = nullptr) {
  const QuadRecord& original = originalScene.table.records[static_cast<size_t>(originalIndex)];
  const QuadRecord& back = backScene.table.records[static_cast<size_t>(backIndex)];
  const std::string which =
      "record " + std::to_string(backIndex) + " (from " + std::to_string(originalIndex) + "): ";
  if (back.blend != original.blend || back.counterClockwise != original.counterClockwise) {
    return ::testing::AssertionFailure() << which << "blend or winding";
  }
  if (backScene.TextureOf(back) != originalScene.TextureOf(original)) {
    return ::testing::AssertionFailure() << which << "texture";
  }
  for (int k = 0; k < 4; ++k) {
    const QuadCorner& a = original.corners[k];
    const QuadCorner& b = back.corners[k];
    const double moved[3] = {a.x + (offset ? offset[0] : 0), a.y + (offset ? offset[1] : 0),
                             -a.z + (offset ? offset[2] : 0)};
    if (!Near(moved[0], b.x, kPositionTolerance) || !Near(moved[1], b.y, kPositionTolerance) ||
        !Near(moved[2], -b.z, kPositionTolerance) || std::fabs(a.u - b.u) > kTexCoordTolerance ||
        std::fabs(a.v - b.v) > kTexCoordTolerance) {
      return ::testing::AssertionFailure() << which << "corner " << k;
    }
  }
  return ::testing::AssertionSuccess();
}

TEST(BlenderRoundTrip, EditsInBlenderComeBackInTheirPlaceAndOrder) {
  if (std::system("command -v blender >/dev/null 2>&1") != 0) {
    GTEST_SKIP() << "Blender is not installed: Debian's blender package runs this check";
  }
  TempDir dir;
  ASSERT_EQ(RunQuadscene("demo " + dir.File("demo"), dir).status, 0);
  const std::string scenes[] = {dir.File("demo/nyc.map"), WriteHardScene(dir)};
  std::string exports;
  for (const std::string& scene : scenes) {
    const std::string stem = scene.substr(dir.path().size() + 1, 4);  // "demo", "hard"
    ASSERT_EQ(RunQuadscene("export " + scene + " -o " + dir.File(stem + ".glb"), dir).status, 0);
    exports += " " + dir.File(stem + ".glb");
  }
  const int blender = std::system(("blender -b --factory-startup -P " QUADVIEW_SOURCE_DIR
                                   "/tests/blender_round_trip.py -- " +
                                   dir.path() + " " + std::to_string(kEditedRecord) + exports +
                                   " >" + dir.File("blender.log") + " 2>&1")
                                      .c_str());
  ASSERT_TRUE(WIFEXITED(blender) && WEXITSTATUS(blender) == 0) << ReadFile(dir.File("blender.log"));
  // The version that judged, for the log.
  const std::string log = ReadFile(dir.File("blender.log"));
  std::cout << log.substr(log.find("blender round trip: ")) << std::flush;

  for (const std::string& scene : scenes) {
    const std::string stem = scene.substr(dir.path().size() + 1, 4);
    const Scene original(scene);
    const int32_t count = original.table.count;
    auto imported = [&](const std::string& edit) {
      SCOPED_TRACE(stem + "-" + edit);
      const std::string back = dir.File(stem + "-" + edit + "/nyc.map");
      const CommandResult run =
          RunQuadscene("import " + dir.File(stem + "-" + edit + ".glb") + " -o " + back, dir);
      EXPECT_EQ(run.status, 0) << run.err;
      return back;
    };
    {  // Untouched: the same records in the same order, drawn the same, pixel for pixel.
      const std::string back = imported("untouched");
      const Scene result(back);
      ASSERT_EQ(result.table.count, count) << stem;
      for (int32_t i = 0; i < count; ++i) EXPECT_TRUE(SameRecord(original, i, result, i)) << stem;
      ASSERT_EQ(RunQuadscene("render " + scene + " -o " + dir.File("a.png"), dir).status, 0);
      ASSERT_EQ(RunQuadscene("render " + back + " -o " + dir.File("b.png"), dir).status, 0);
      EXPECT_TRUE(ReadFile(dir.File("a.png")) == ReadFile(dir.File("b.png"))) << stem;
    }
    {  // Moved by (1, 2, 3) in Blender's z-up frame: (1, 3, -2) in the file's.
      const Scene result(imported("moved"));
      const double offset[3] = {1, 3, -2};
      ASSERT_EQ(result.table.count, count) << stem;
      for (int32_t i = 0; i < count; ++i) {
        EXPECT_TRUE(SameRecord(original, i, result, i, offset)) << stem;
      }
    }
    {  // One record's faces duplicated and raised by 0.5: a second record right after it.
      const Scene result(imported("duplicated"));
      const double raised[3] = {0, 0.5, 0};
      ASSERT_EQ(result.table.count, count + 1) << stem;
      for (int32_t i = 0; i < count; ++i) {
        EXPECT_TRUE(SameRecord(original, i, result, i <= kEditedRecord ? i : i + 1)) << stem;
      }
      EXPECT_TRUE(SameRecord(original, kEditedRecord, result, kEditedRecord + 1, raised)) << stem;
    }
    {  // One record's faces deleted: the rest in order.
      const Scene result(imported("deleted"));
      ASSERT_EQ(result.table.count, count - 1) << stem;
      for (int32_t i = 0; i + 1 < count; ++i) {
        EXPECT_TRUE(SameRecord(original, i < kEditedRecord ? i : i + 1, result, i)) << stem;
      }
    }
    {  // A quad made in Blender: after all the others.
      const Scene result(imported("added"));
      ASSERT_GT(result.table.count, count) << stem;
      for (int32_t i = 0; i < count; ++i) EXPECT_TRUE(SameRecord(original, i, result, i)) << stem;
    }
  }
}

}  // namespace
