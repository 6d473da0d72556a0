// The round trip a modder makes, judged by Blender itself: `quadscene export` to .glb, Blender's
// glTF import, one edit, Blender's export with its default settings, and `quadscene import`
// with its defaults, for the demo and for a scene of hard cases (a door on its wall, a window
// on it, interleaved slots on one plane, blend 0, 1, 2 and 255, both windings). Records come
// back in their order, quads as quads, with their blend and winding; what Blender changed,
// changed; a new face after all the others. Then the same edits through the quadview add-on
// (File > Import and Export > quadview scene), which keeps quads and is exact: an untouched
// scene comes back byte for byte. Both run with the add-on enabled as a user enables it, and
// nothing else: it is what lets Blender 3.4's glTF add-on run with numpy 1.24. Skipped where
// Blender is not installed.
#include <gtest/gtest.h>
#include <sys/wait.h>

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <iostream>
#include <map>
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
// The scene that must come back byte for byte at our users' size.
constexpr int kBigScene = 1000000;
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

// Blender running `script` with `args`, the add-on among the user's add-ons (a link to the
// source) and quadscene of this build first on the search path; false with the log when it
// fails. The version that judged goes to the test's output.
::testing::AssertionResult RunBlender(const TempDir& dir, const std::string& script,
                                      const std::string& args) {
  std::filesystem::create_directories(dir.File("scripts/addons"));
  std::filesystem::create_directory_symlink(QUADVIEW_SOURCE_DIR "/blender/io_scene_quadview",
                                            dir.File("scripts/addons/io_scene_quadview"));
  const std::string log = dir.File(script + ".log");
  const int status = std::system(
      ("PATH=" QUADVIEW_BINARY_DIR "/tools:$PATH BLENDER_USER_SCRIPTS=" + dir.File("scripts") +
       " blender -b --factory-startup --python-exit-code 1 -P " QUADVIEW_SOURCE_DIR "/tests/" +
       script + " -- " + args + " >" + log + " 2>&1")
          .c_str());
  const std::string said = ReadFile(log);
  if (!WIFEXITED(status) || WEXITSTATUS(status) != 0) {
    return ::testing::AssertionFailure() << said;
  }
  std::cout << said.substr(said.rfind("blender ")) << std::flush;
  return ::testing::AssertionSuccess();
}

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
  ASSERT_TRUE(RunBlender(dir, "blender_round_trip.py",
                         dir.path() + " " + std::to_string(kEditedRecord) + exports));

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

// The hard scene with images of other encodings (run-length, colour-mapped, 24-bit with an
// image ID and bytes after its pixels), an image of no texels, a triangle and a slot past the
// set.
std::string WriteCorpusScene(const TempDir& dir) {
  const std::string path = WriteHardScene(dir);
  const std::string folder = TextureFolderPrefix(path);
  for (int kind = 0; kind < 3; ++kind) WriteFile(TextureImagePath(folder, kind), OtherTga(kind));
  WriteTga32(TextureImagePath(folder, 4), 0, 0, nullptr);
  QuadTable table = ReadTable(path);
  QuadRecord triangle = Quad(2, 0, 1, 0.1f, 0.1f, 0.4f, 0.4f, 0.3f);
  triangle.corners[3] = triangle.corners[2];
  for (const QuadRecord& record : {triangle, Quad(4, 0, 0, -1, 0.8f, -0.8f, 1, 0.4f),
                                   Quad(9, 1, 1, 0.8f, -1, 1, -0.8f, 0.4f)}) {
    table.records.push_back(record);
  }
  table.count = static_cast<int32_t>(table.records.size());
  WriteQuadList(path, table);
  return path;
}

// Every file of a scene, its quad list and its texture folder, by name.
std::map<std::string, std::string> SceneFiles(const std::string& path) {
  std::map<std::string, std::string> files = {{"quad list", ReadFile(path)}};
  for (const auto& entry : std::filesystem::directory_iterator(TextureFolderPrefix(path))) {
    files[entry.path().filename().string()] = ReadFile(entry.path().string());
  }
  return files;
}

std::vector<QuadRecord> Records(const QuadTable& table) {
  return {table.records.begin(), table.records.begin() + table.count};
}

// Records equal byte for byte, with the first that is not.
::testing::AssertionResult SameRecords(const std::vector<QuadRecord>& expected,
                                       const std::vector<QuadRecord>& got) {
  if (expected.size() != got.size()) {
    return ::testing::AssertionFailure() << got.size() << " records, not " << expected.size();
  }
  for (size_t i = 0; i < got.size(); ++i) {
    if (std::memcmp(&expected[i], &got[i], sizeof(QuadRecord)) != 0) {
      return ::testing::AssertionFailure() << "record " << i << " differs";
    }
  }
  return ::testing::AssertionSuccess();
}

// `record` moved by (dx, dy, dz) in the table's coordinates, rounded as Blender rounds.
QuadRecord Moved(QuadRecord record, double dx, double dy, double dz) {
  for (QuadCorner& corner : record.corners) {
    corner.x = static_cast<float>(corner.x + dx);
    corner.y = static_cast<float>(corner.y + dy);
    corner.z = static_cast<float>(corner.z + dz);
  }
  return record;
}

TEST(BlenderAddon, ScenesComeBackAsEditedAndUntouchedOnesByteForByte) {
  if (std::system("command -v blender >/dev/null 2>&1") != 0) {
    GTEST_SKIP() << "Blender is not installed: Debian's blender package runs this check";
  }
  TempDir dir;
  ASSERT_EQ(RunQuadscene("demo " + dir.File("demo"), dir).status, 0);
  const std::string demo = dir.File("demo/nyc.map");
  const std::string hard = WriteCorpusScene(dir);
  const std::string damaged = dir.File("damaged/nyc.map");
  std::filesystem::create_directories(dir.File("damaged/nyc"));
  std::filesystem::copy_file(dir.File("demo/nyc/000.tga"), dir.File("damaged/nyc/000.tga"));
  WriteFile(damaged, "0\n1\n");
  ASSERT_EQ(
      RunQuadscene("demo " + dir.File("big") + " --quads " + std::to_string(kBigScene), dir).status,
      0);
  std::filesystem::create_directories(dir.File("latin"));
  std::filesystem::copy(demo, dir.File("latin/caf\xe9.map"));
  std::filesystem::copy(dir.File("demo/nyc"), dir.File("latin/caf\xe9"));
  ASSERT_TRUE(RunBlender(dir, "blender_addon.py",
                         dir.path() + " " + std::to_string(kEditedRecord) + " " + demo + " " +
                             hard + " " + damaged + " " + dir.File("big/nyc.map")));
  EXPECT_TRUE(SceneFiles(dir.File("big/nyc.map")) == SceneFiles(dir.File("big-out/nyc.map")));
  EXPECT_TRUE(SceneFiles(dir.File("caf\xe9/nyc.map")) == SceneFiles(demo));
  // Packed TIFF, OpenEXR and WebP images: their pixels after the demo's, as Blender shows them.
  std::vector<std::vector<uint8_t>> formats = UploadedTextures(dir.File("formats/nyc.map"));
  ASSERT_EQ(formats.size(), 11u);
  for (size_t slot = 8; slot < 11; ++slot) {
    SCOPED_TRACE(slot);
    const uint8_t painted[] = {255, 0,   0,   255, 0,   255, 0,   255, 0,
                               0,   255, 255, 255, 255, 255, 255, 2};
    ASSERT_EQ(formats[slot].size(), sizeof painted);
    for (size_t i = 0; i < sizeof painted; ++i) EXPECT_NEAR(formats[slot][i], painted[i], 4);
  }

  std::vector<QuadRecord> all;
  for (const auto& [stem, source] : {std::pair{"demo", demo}, std::pair{"hard", hard}}) {
    SCOPED_TRACE(stem);
    const std::vector<QuadRecord> original = Records(ReadTable(source));
    const size_t edited = kEditedRecord;
    std::map<std::string, std::string> images = SceneFiles(source);
    images.erase("quad list");
    std::vector<QuadRecord> moved, duplicated = original, deleted = original,
                                   reordered(original.rbegin(), original.rend()), added = original;
    for (const QuadRecord& record : original) moved.push_back(Moved(record, 1, 3, 2));
    duplicated.push_back(Moved(original[edited], 0, 0.5, 0));
    deleted.erase(deleted.begin() + edited);
    added.push_back(Quad(static_cast<int32_t>(images.size()), 0, 0, 5, 0, 6, 1));
    for (QuadCorner& corner : added.back().corners) corner.u = corner.v = corner.z = 0;
    const struct {
      const char* edit;
      const std::vector<QuadRecord>& records;
    } cases[] = {{"moved", moved},
                 {"duplicated", duplicated},
                 {"deleted", deleted},
                 {"reordered", reordered},
                 {"added", added}};

    const std::string untouched = dir.File(std::string(stem) + "-untouched/nyc.map");
    EXPECT_TRUE(SceneFiles(untouched) == SceneFiles(source));
    for (const auto& c : cases) {
      SCOPED_TRACE(c.edit);
      const std::string back = dir.File(std::string(stem) + "-" + c.edit + "/nyc.map");
      EXPECT_TRUE(SameRecords(c.records, Records(ReadTable(back))));
      std::map<std::string, std::string> backImages = SceneFiles(back);
      backImages.erase("quad list");
      if (std::string(c.edit) == "added") {  // the new image last, as it was painted
        const std::vector<uint8_t> painted = {255, 0,   0,   255, 0,   255, 0,   255, 0,
                                              0,   255, 255, 255, 255, 255, 128, 2};
        EXPECT_EQ(UploadedTextures(back).back(), painted);
        backImages.erase(std::prev(backImages.end()));
      }
      EXPECT_TRUE(backImages == images);
    }
    // Both scenes in one file: the second's slots after the first's, its slot past the set a
    // new untextured slot after both.
    for (QuadRecord record : original) {
      if (std::string(stem) == "hard") {
        record.textureIndex = record.textureIndex < 5 ? record.textureIndex + 8 : 13;
      }
      all.push_back(record);
    }
  }
  const std::string two = dir.File("two/nyc.map");
  EXPECT_TRUE(SameRecords(all, Records(ReadTable(two))));
  std::vector<std::vector<uint8_t>> textures = UploadedTextures(demo);
  for (const auto& texture : UploadedTextures(hard)) textures.push_back(texture);
  textures.push_back({0});
  EXPECT_EQ(UploadedTextures(two), textures);
  for (int slot = 0; slot < 8; ++slot) {
    EXPECT_EQ(ReadFile(TextureImagePath(TextureFolderPrefix(two), slot)),
              ReadFile(TextureImagePath(TextureFolderPrefix(demo), slot)));
  }

  // The failures as Blender reports them (the script joins a report's lines with " | ").
  std::string damagedSaid = RunQuadscene("export " + damaged + " -o " + dir.File("x.qvb"), dir).err;
  damagedSaid.pop_back();
  for (size_t at; (at = damagedSaid.find('\n')) != std::string::npos;) {
    damagedSaid.replace(at, 1, " | ");
  }
  EXPECT_EQ(ReadFile(dir.File("reports.txt")),
            "damaged: Error: " + damagedSaid +
                "\nexists: Error: " + dir.File("demo-untouched/nyc.map") +
                " exists; tick \"Replace existing scene\" to overwrite it\n"
                "replaced: no error\nname: Error: " +
                dir.File("scene.map") +
                ": must be named nyc.map, sanb.map or miami.map: only those names have their "
                "texture numbers read\n"
                "as: no error\nlatin exists: Error: " +
                dir.File("caf\\xe9/nyc.map") +
                " exists; tick \"Replace existing scene\" to overwrite it\n"
                "broken: Error: image \"broken.png\" does not decode: unknown image type\n"
                "no quadscene: Error: " +
                dir.File("no-such-program") +
                " is not a program; quadscene was not found: install the quadview package, or "
                "name the program in the preferences of the quadview add-on\n");
}

}  // namespace
